#include "vendorapiprocess.h"

VendorApiProcess::VendorApiProcess(const QString &program, const QString &serversFile)
    : program(program)
    , serversFile(serversFile)
{
    // Its log lines go to the test's own stderr, where a failure can be read.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

VendorApiProcess::~VendorApiProcess()
{
    stop();
}

bool VendorApiProcess::start(const QString &dataFolder, quint16 port)
{
    stop();
    process.start(program, {QStringLiteral("--port"), QString::number(port),
                            QStringLiteral("--data"), dataFolder, QStringLiteral("--servers"),
                            serversFile, QStringLiteral("--cheap-password-hashing")});
    const QByteArray prefix = "listening on ";
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000)) {
            error =
                QStringLiteral("tarvex-vendor-api did not start: %1").arg(process.errorString());
            stop();
            return false;
        }
    }
    const QByteArray line = process.readLine().trimmed();
    if (!line.startsWith(prefix)) {
        error = QStringLiteral("unexpected first line: ") + QString::fromUtf8(line);
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

bool VendorApiProcess::isRunning() const
{
    return process.state() == QProcess::Running;
}
