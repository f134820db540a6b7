#include "testablemacvpnbackend.h"

TestableMacVpnBackend::TestableMacVpnBackend(QObject *parent)
    : MacVpnBackend(parent)
{
    journal.setDirectory(journalDirectory.filePath(QStringLiteral("state")));
}

TestableMacVpnBackend::~TestableMacVpnBackend()
{
    if (currentStatus != Disconnected)
        cleanup();
    // What is left to undo has been undone through the scripted seams; the base
    // destructor must not repeat it through the real ones.
    currentStatus = Disconnected;
}

QStringList TestableMacVpnBackend::commandLines() const
{
    QStringList lines;
    for (const Command &command : commands)
        lines.append(command.line());
    return lines;
}

bool TestableMacVpnBackend::runCommand(const QString &program, const QStringList &arguments,
                                       QString *standardOutput, QString *standardError,
                                       int timeoutMs) const
{
    Q_UNUSED(timeoutMs)
    const Command command{program, arguments};
    // The recording is test bookkeeping, not backend state.
    const_cast<TestableMacVpnBackend *>(this)->commands.append(command);
    const CommandResult result = responder ? responder(command) : CommandResult();
    if (standardOutput)
        *standardOutput = result.standardOutput;
    if (standardError)
        *standardError = result.standardError;
    return result.ok;
}

QList<QHostAddress> TestableMacVpnBackend::lookupHost(const QString &host, QString *error) const
{
    ++const_cast<TestableMacVpnBackend *>(this)->lookups;
    if (!hosts.contains(host)) {
        if (error)
            *error = QStringLiteral("Host %1 not found").arg(host);
        return {};
    }
    return hosts.value(host);
}

QString TestableMacVpnBackend::hostsFilePath() const
{
    return hostsFile.isEmpty() ? QStringLiteral("/nonexistent/hosts") : hostsFile;
}

QString TestableMacVpnBackend::runtimeDirectory() const
{
    return runtimeDirectoryPath.isEmpty() ? MacVpnBackend::runtimeDirectory()
                                          : runtimeDirectoryPath;
}

QString TestableMacVpnBackend::applicationDirPath() const
{
    return applicationDirectory.isEmpty() ? MacVpnBackend::applicationDirPath()
                                          : applicationDirectory;
}

bool TestableMacVpnBackend::mayChangeSystem() const
{
    return allowSystemChanges || MacVpnBackend::mayChangeSystem();
}
