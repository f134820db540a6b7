#pragma once

#include <QProcess>
#include <QString>
#include <QUrl>

// tarvex-vendor-api run as a program on a free port, with cheap password hashing and
// the data folder the caller gives, for tests that want the real process. start()
// waits for the "listening on URL" line.
class VendorApiProcess
{
public:
    VendorApiProcess(const QString &program, const QString &serversFile);
    ~VendorApiProcess() { stop(); }

    // On any free port. False with errorString() when it exits or stays silent.
    bool start(const QString &dataFolder);
    // Ends it with SIGTERM (SIGKILL after 5 s); its data stays.
    void stop();
    bool isRunning() const { return process.state() == QProcess::Running; }
    QUrl rootUrl() const { return root; }
    QString errorString() const { return error; }

private:
    QString program;
    QString serversFile;
    QProcess process;
    QUrl root;
    QString error;
};
