#include "macvpnbackend.h"

bool MacVpnBackend::runCommand(const QString &program, const QStringList &arguments,
                               QString *standardOutput, QString *standardError, int timeoutMs) const
{
    Q_UNUSED(program)
    Q_UNUSED(arguments)
    Q_UNUSED(standardOutput)
    Q_UNUSED(standardError)
    Q_UNUSED(timeoutMs)
    return false;
}
