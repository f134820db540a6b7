#include "recoveryjournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr char FileName[] = "recovery-journal";
constexpr char DefaultDirectory[] = "/Library/Application Support/Tarvex";
constexpr char Format[] = "tarvex-recovery-journal";
constexpr int Version = 1;
constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject record(const char *kind, const QJsonValue &value)
{
    return QJsonObject{{QLatin1String(kind), value}};
}

// A removal or rename is a change of the folder: without this a power cut may bring back
// a journal that was removed after everything had been undone, and it would be replayed.
void syncDirectory(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
#else
    Q_UNUSED(path)
#endif
}

// Reads one record line into contents; false when it is not a record of this format.
bool readRecord(const QJsonObject &object, RecoveryJournal::Contents *contents)
{
    if (object.size() != 1)
        return false;
    const QString kind = object.constBegin().key();
    const QJsonValue value = object.constBegin().value();
    const QJsonObject fields = value.toObject();
    if (kind == QLatin1String("tunnel") && value.isObject()) {
        contents->tunnelProgram = fields.value(QLatin1String("program")).toString();
        contents->tunnelPid = fields.value(QLatin1String("pid")).toInteger();
        return contents->tunnelPid >= 0;
    }
    if (kind == QLatin1String("route") && value.isObject()) {
        const RecoveryJournal::Route route{fields.value(QLatin1String("family")).toString(),
                                           fields.value(QLatin1String("destination")).toString(),
                                           fields.value(QLatin1String("type")).toString()};
        if (route.destination.isEmpty())
            return false;
        contents->routes.append(route);
        return true;
    }
    if (kind == QLatin1String("dns") && value.isObject()) {
        RecoveryJournal::DnsServers dns{fields.value(QLatin1String("service")).toString(), {}};
        const QJsonArray servers = fields.value(QLatin1String("servers")).toArray();
        for (const QJsonValue &server : servers)
            dns.servers.append(server.toString());
        if (dns.service.isEmpty())
            return false;
        contents->dnsServers.append(dns);
        return true;
    }
    if (kind == QLatin1String("hosts") && value.isBool()) {
        contents->hostsBlock = value.toBool();
        return true;
    }
    return false;
}

} // namespace

bool RecoveryJournal::Contents::isEmpty() const
{
    return tunnelProgram.isEmpty() && tunnelPid == 0 && routes.isEmpty() && dnsServers.isEmpty() &&
           !hostsBlock;
}

bool operator==(const RecoveryJournal::Contents &a, const RecoveryJournal::Contents &b)
{
    return a.tunnelProgram == b.tunnelProgram && a.tunnelPid == b.tunnelPid &&
           a.routes == b.routes && a.dnsServers == b.dnsServers && a.hostsBlock == b.hostsBlock;
}

QString RecoveryJournal::defaultDirectory()
{
    const QString overridden = qEnvironmentVariable(DirectoryVariable);
    return overridden.isEmpty() ? QString::fromLatin1(DefaultDirectory) : overridden;
}

RecoveryJournal::RecoveryJournal(const QString &directory)
    : directory(directory)
{}

void RecoveryJournal::setDirectory(const QString &newDirectory)
{
    directory = newDirectory;
}

QString RecoveryJournal::filePath() const
{
    return QDir(directory).filePath(QString::fromLatin1(FileName));
}

QString RecoveryJournal::errorString() const
{
    return lastError;
}

const RecoveryJournal::Contents &RecoveryJournal::contents() const
{
    return current;
}

bool RecoveryJournal::setTunnel(const QString &program, qint64 pid)
{
    Contents next = current;
    next.tunnelProgram = program;
    next.tunnelPid = pid;
    return write(next);
}

bool RecoveryJournal::addRoute(const Route &route)
{
    Contents next = current;
    next.routes.append(route);
    return write(next);
}

bool RecoveryJournal::removeRoute(const Route &route)
{
    Contents next = current;
    const qsizetype index = next.routes.lastIndexOf(route);
    if (index < 0)
        return true;
    next.routes.removeAt(index);
    return write(next);
}

bool RecoveryJournal::addDnsServers(const QString &service, const QStringList &servers)
{
    Contents next = current;
    // The first record of a service holds what it had before any change of ours.
    for (const DnsServers &recorded : std::as_const(next.dnsServers)) {
        if (recorded.service == service)
            return true;
    }
    next.dnsServers.append({service, servers});
    return write(next);
}

bool RecoveryJournal::setHostsBlock()
{
    if (current.hostsBlock)
        return true;
    Contents next = current;
    next.hostsBlock = true;
    return write(next);
}

bool RecoveryJournal::remove()
{
    current = Contents();
    if (!QFile::exists(filePath()))
        return true;
    QFile file(filePath());
    if (!file.remove()) {
        lastError = file.errorString();
        return false;
    }
    syncDirectory(directory);
    return true;
}

RecoveryJournal::State RecoveryJournal::read(Contents *contents)
{
    *contents = Contents();
    QFile file(filePath());
    if (!file.exists())
        return State::Missing;
    // What the journal names is done as root: one that someone else could have written
    // is not followed.
    const QFileInfo folder(directory);
    if (!isOwnFolder(folder))
        return State::Damaged;
    if (folder.permissions().testAnyFlags(QFile::WriteGroup | QFile::WriteOther)) {
        lastError = QStringLiteral("%1 is writable by other users").arg(directory);
        return State::Damaged;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        lastError = file.errorString();
        return State::Damaged;
    }
    return parse(file.readAll(), contents);
}

QString RecoveryJournal::keepAside()
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = filePath() + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFile::exists(target); ++n)
        target = filePath() + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    QFile file(filePath());
    if (!file.rename(target)) {
        lastError = file.errorString();
        return {};
    }
    syncDirectory(directory);
    return target;
}

QByteArray RecoveryJournal::serialize(const Contents &contents)
{
    QByteArray data = line(
        {{QStringLiteral("journal"), QLatin1String(Format)}, {QStringLiteral("version"), Version}});
    int records = 0;
    const auto append = [&](const char *kind, const QJsonValue &value) {
        data += line(record(kind, value));
        ++records;
    };
    if (!contents.tunnelProgram.isEmpty() || contents.tunnelPid != 0)
        append("tunnel", QJsonObject{{QStringLiteral("program"), contents.tunnelProgram},
                                     {QStringLiteral("pid"), contents.tunnelPid}});
    for (const Route &route : contents.routes)
        append("route", QJsonObject{{QStringLiteral("family"), route.family},
                                    {QStringLiteral("destination"), route.destination},
                                    {QStringLiteral("type"), route.type}});
    if (contents.hostsBlock)
        append("hosts", true);
    for (const DnsServers &dns : contents.dnsServers)
        append("dns",
               QJsonObject{{QStringLiteral("service"), dns.service},
                           {QStringLiteral("servers"), QJsonArray::fromStringList(dns.servers)}});
    data += line({{QStringLiteral("end"), records}});
    return data;
}

RecoveryJournal::State RecoveryJournal::parse(const QByteArray &data, Contents *contents)
{
    *contents = Contents();
    QList<QByteArray> lines = data.split('\n');
    // Only a line with its line feed is known to be whole.
    lines.removeLast();
    if (lines.isEmpty())
        return State::Damaged;
    const QJsonObject header = QJsonDocument::fromJson(lines.takeFirst()).object();
    if (header.value(QLatin1String("journal")).toString() != QLatin1String(Format) ||
        header.value(QLatin1String("version")).toInt() != Version)
        return State::Damaged;

    int records = 0;
    bool intact = true;
    bool ended = false;
    for (const QByteArray &text : std::as_const(lines)) {
        const QJsonObject object = QJsonDocument::fromJson(text).object();
        if (ended) {
            intact = false;
        } else if (object.contains(QLatin1String("end")) && object.size() == 1) {
            ended = true;
            intact = intact && object.value(QLatin1String("end")).toInt(-1) == records;
        } else if (readRecord(object, contents)) {
            ++records;
        } else {
            intact = false;
        }
    }
    return intact && ended ? State::Complete : State::Damaged;
}

bool RecoveryJournal::write(const Contents &next)
{
    if (!prepareDirectory())
        return false;
    const QByteArray data = serialize(next);
    // commit() flushes the temporary file to disk (fsync) before it renames it over the
    // journal: a power cut leaves the old journal or the new one, whole.
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        lastError = file.errorString();
        file.cancelWriting();
        return false;
    }
    current = next;
    return true;
}

bool RecoveryJournal::isOwnFolder(const QFileInfo &info)
{
    if (info.isSymLink() || !info.isDir()) {
        lastError = QStringLiteral("%1 is not a folder").arg(directory);
        return false;
    }
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::geteuid()) {
        lastError = QStringLiteral("%1 belongs to user %2").arg(directory).arg(info.ownerId());
        return false;
    }
#endif
    return true;
}

// Only root may read or change what the journal tells the daemon to run at its next
// start, so the folder is made the daemon's own and closed to everyone else.
bool RecoveryJournal::prepareDirectory()
{
    QFileInfo info(directory);
    if (!info.exists()) {
        const QDir parent = info.absoluteDir();
        if (!QDir().mkpath(parent.path()) || !parent.mkdir(info.fileName(), OwnerOnly)) {
            lastError = QStringLiteral("cannot create %1").arg(directory);
            return false;
        }
        info.refresh();
    }
    if (!isOwnFolder(info))
        return false;
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    if (info.permissions().testAnyFlags(others) && !QFile::setPermissions(directory, OwnerOnly)) {
        lastError = QStringLiteral("cannot close %1 to other users").arg(directory);
        return false;
    }
    return true;
}
