#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A Mac of the test's own, in a temporary folder: the simulated network state of
// tools/macos (seeded as the sandbox seeds it), a hosts file, and the folders the daemon
// uses for its runtime files and its recovery journal. The tunnel stand-in and the
// recovery journal find it through the environment, which it sets for its lifetime.
class SimulatedMac
{
public:
    static constexpr char DefaultHosts[] = "127.0.0.1\tlocalhost\n::1\tlocalhost\n";

    explicit SimulatedMac(const QByteArray &hosts = DefaultHosts);
    ~SimulatedMac();

    QString path(const QString &name) const { return dir.filePath(name); }
    QString stateDirectory() const { return path(QStringLiteral("mac")); }
    QString hostsFile() const { return path(QStringLiteral("hosts")); }
    QString journalFile() const { return path(QStringLiteral("journal/recovery-journal")); }

    // The network state, as "tarvex-macos dump" prints it; only the lines of one kind
    // ("route", "service", "interface") when given.
    QString dump(const QString &kind = QString()) const;
    QByteArray hosts() const;
    // The commands run so far ("/sbin/route -n add ...").
    QStringList commands() const;
    // Rules that make chosen commands fail or hang (tools/macos/README.md).
    void setKnobs(const QStringList &rules) const;

private:
    QTemporaryDir dir;
};
