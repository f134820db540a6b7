#include "vendorapiprocess.h"

VendorApiProcess::VendorApiProcess(const QString &program, const QString &serversFile)
    : program(program)
    , serversFile(serversFile)
{
    // Its log lines go to the test's own stderr, where a failure can be read.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

bool VendorApiProcess::start(const QString &dataFolder)
{
    stop();
    process.start(program, {QStringLiteral("--port"), QStringLiteral("0"),
                            QStringLiteral("--data"), dataFolder, QStringLiteral("--servers"),
                            serversFile, QStringLiteral("--cheap-password-hashing")});
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    const QByteArray prefix = "listening on ";
    const QByteArray line = process.readLine().trimmed();
    if (!line.startsWith(prefix)) {
        error = QStringLiteral("tarvex-vendor-api did not start: %1")
                    .arg(line.isEmpty() ? process.errorString() : QString::fromUtf8(line));
        stop();
        return false;
    }
    root = QUrl(QString::fromUtf8(line.mid(prefix.size())));
    return true;
}

void VendorApiProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
