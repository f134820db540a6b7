#include "macvpnbackend.h"

#include "tarvexconfig.h"
#include "tarvexlogging.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The hosts file is handled as bytes: whatever it holds besides the block (text in another
// encoding than UTF-8, CRLF line ends) is none of ours and comes back unchanged.
constexpr char HostsBeginMarker[] = "# BEGIN TARVEX_VPN_CLIENT";
constexpr char HostsEndMarker[] = "# END TARVEX_VPN_CLIENT";

// The pinned blocks of a hosts file and the marker lines that belong to none.
struct HostsBlocks
{
    // [start, end) of each block: from the start of its begin line to the end of its
    // end line, the line feed after it excluded.
    QList<std::pair<qsizetype, qsizetype>> spans;
    QList<int> strayMarkerLines; // 1-based
};

// Only a begin line followed by an end line, with no other marker line between them,
// is a block this program wrote. Anything else (an end line ahead of any begin line,
// a begin line without an end line after it) was not written by us as it stands, so
// the text around it belongs to someone else and stays.
HostsBlocks findHostsBlocks(const QByteArray &content)
{
    HostsBlocks found;
    qsizetype openStart = -1;
    int openLine = 0;
    qsizetype lineStart = 0;
    int lineNumber = 0;
    while (lineStart < content.size()) {
        ++lineNumber;
        qsizetype lineEnd = content.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = content.size();
        const QByteArrayView line =
            QByteArrayView(content).sliced(lineStart, lineEnd - lineStart).trimmed();
        if (line == HostsBeginMarker) {
            if (openStart >= 0)
                found.strayMarkerLines.append(openLine);
            openStart = lineStart;
            openLine = lineNumber;
        } else if (line == HostsEndMarker) {
            if (openStart >= 0)
                found.spans.append({openStart, lineEnd});
            else
                found.strayMarkerLines.append(lineNumber);
            openStart = -1;
        }
        lineStart = lineEnd + 1;
    }
    if (openStart >= 0)
        found.strayMarkerLines.append(openLine);
    return found;
}

// A marker line that belongs to no block makes every block ambiguous: removing one could
// pair the stray marker with another and take the user's lines between them along at the
// next pin or unpin. Such a file is left as it is, blocks included.
bool markersBalanced(const QString &path, const HostsBlocks &found)
{
    for (const int line : found.strayMarkerLines)
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] unbalanced hosts file marker left in place"
                                   << path << "line=" << line;
    return found.strayMarkerLines.isEmpty();
}

// Each block goes together with the line feed that ends its end line: pinning added
// that line feed, so pin followed by unpin gives the file back byte for byte instead of
// leaving an empty line behind on every machine that ever connected.
void removeHostsBlocks(QByteArray &content, const HostsBlocks &found)
{
    for (auto it = found.spans.crbegin(); it != found.spans.crend(); ++it) {
        qsizetype end = it->second;
        if (end < content.size() && content.at(end) == '\n')
            ++end;
        content.remove(it->first, end - it->first);
    }
}

QString systemError()
{
#ifdef Q_OS_UNIX
    return QString::fromLocal8Bit(std::strerror(errno));
#else
    return QString();
#endif
}

// QSaveFile creates the replacement as the daemon's user and carries over only the
// rwx bits; a system file must keep its owner, group and full mode.
bool takeOverOwnerAndMode(int originalFd, int replacementFd, QString *error)
{
#ifdef Q_OS_UNIX
    struct stat original;
    struct stat replacement;
    if (::fstat(originalFd, &original) != 0 || ::fstat(replacementFd, &replacement) != 0) {
        *error = systemError();
        return false;
    }
    if ((original.st_uid != replacement.st_uid || original.st_gid != replacement.st_gid) &&
        ::fchown(replacementFd, original.st_uid, original.st_gid) != 0) {
        *error = systemError();
        return false;
    }
    // After fchown, which clears the set-id bits.
    if (::fchmod(replacementFd, original.st_mode & 07777) != 0) {
        *error = systemError();
        return false;
    }
#else
    Q_UNUSED(originalFd)
    Q_UNUSED(replacementFd)
    Q_UNUSED(error)
#endif
    return true;
}

enum class AtomicReplace { Done, Impossible, Failed };

// Writes a temporary file next to the original, flushes it to disk and renames it over
// the original, so that a crash or a full disk leaves either the old or the new file.
AtomicReplace replaceAtomically(const QString &path, int originalFd, const QByteArray &data,
                                QString *error)
{
    QSaveFile replacement(path);
    if (!replacement.open(QIODevice::WriteOnly)) {
        *error = replacement.errorString();
        return AtomicReplace::Impossible;
    }
    if (!takeOverOwnerAndMode(originalFd, replacement.handle(), error)) {
        replacement.cancelWriting();
        return AtomicReplace::Impossible;
    }
    // Flushed here because commit() would rename a temporary file whose buffered tail
    // failed to reach the disk: only errors of write() itself stop it.
    if (replacement.write(data) != data.size() || !replacement.flush()) {
        *error = replacement.errorString();
        replacement.cancelWriting();
        return AtomicReplace::Failed;
    }
    if (!replacement.commit()) {
        *error = replacement.errorString();
        // A refused rename (a file bind-mounted over the path gives EBUSY) leaves the
        // original as it was; any other failure was the writing itself.
        return replacement.error() == QFileDevice::RenameError ? AtomicReplace::Impossible
                                                               : AtomicReplace::Failed;
    }
    return AtomicReplace::Done;
}

// Replaces the hosts file's content, atomically where the file system allows it.
bool writeHostsFile(const QString &path, const QByteArray &data, QString *error)
{

    // Opening the original for writing (without truncating it) decides whether the file
    // may change at all: a rename would also replace a read-only file in a writable
    // directory. The descriptor also gives the owner and mode to keep.
    QFile original(path);
    if (!original.open(QIODevice::ReadWrite)) {
        *error = original.errorString();
        return false;
    }

    QString atomicError;
    switch (replaceAtomically(path, original.handle(), data, &atomicError)) {
    case AtomicReplace::Done:
        return true;
    case AtomicReplace::Failed:
        *error = atomicError;
        return false;
    case AtomicReplace::Impossible:
        break;
    }

    // The file may change but cannot be replaced: its directory is not writable, the
    // owner cannot be kept, or the path is a mount point. Rewriting it in place is what
    // remains; overwriting before truncating means a shrinking file (every unpin) needs
    // no new disk space on the way.
    qCWarning(lcTarvexBackend) << "[MacVpnBackend] hosts file rewritten in place:" << atomicError;
    if (original.write(data) != data.size() || !original.flush() || !original.resize(data.size())) {
        *error = original.errorString();
        return false;
    }
    return true;
}

} // namespace

QString MacVpnBackend::controlPlaneHost() const
{
    const QString domain = QCoreApplication::organizationDomain().trimmed();
    if (!domain.isEmpty())
        return domain;
    return QString::fromUtf8(Tarvex::VendorDomain).trimmed();
}

void MacVpnBackend::installControlPlaneBypass(const QString &gateway)
{
    removeControlPlaneBypass();

    if (gateway.isEmpty()) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] control-plane bypass skipped: empty gateway";
        return;
    }
    const QString host = controlPlaneHost();
    if (host.isEmpty())
        return;

    // Resolved before the tunnel's DNS servers are set, through the system's own.
    QString error;
    const QList<QHostAddress> addresses = lookupHost(host, &error);
    if (!error.isEmpty()) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] control-plane resolve failed" << host << error;
        return;
    }

    QStringList pinned;
    for (const QHostAddress &address : addresses) {
        // Only IPv4: the old gateway is an IPv4 router, and once pinned the name resolves
        // to these addresses alone, so no IPv6 connection to the API goes into the tunnel.
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        const QString text = address.toString();
        if (pinned.contains(text))
            continue;
        QString routeError;
        if (!addRecordedRoute(RouteEntry{QStringLiteral("inet"), text, QStringLiteral("-host")},
                              {QStringLiteral("-n"), QStringLiteral("add"), QStringLiteral("-host"),
                               text, gateway},
                              &routeError)) {
            qCWarning(lcTarvexBackend)
                << "[MacVpnBackend] control-plane route failed" << text << routeError.trimmed();
            continue;
        }
        pinned.append(text);
        controlPlaneRoutes.append(text);
        qCInfo(lcTarvexBackend) << "[MacVpnBackend] control-plane bypass" << host << "->" << text
                                << "via" << gateway;
    }

    if (!pinned.isEmpty())
        pinControlPlaneHosts(pinned);
}

void MacVpnBackend::removeControlPlaneBypass()
{
    unpinControlPlaneHosts();
    for (const QString &address : std::as_const(controlPlaneRoutes))
        runCommand(
            QStringLiteral("/sbin/route"),
            {QStringLiteral("-n"), QStringLiteral("delete"), QStringLiteral("-host"), address},
            nullptr, nullptr, CommandTimeoutMs);
    controlPlaneRoutes.clear();
}

void MacVpnBackend::pinControlPlaneHosts(const QStringList &addresses)
{
    const QString host = controlPlaneHost();
    if (host.isEmpty() || addresses.isEmpty())
        return;

    const QString path = hostsFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcTarvexBackend)
            << "[MacVpnBackend] unable to read hosts file" << file.errorString();
        return;
    }
    QByteArray content = file.readAll();
    file.close();

    // A block left by a daemon that died is replaced, not doubled. Everything else in the
    // file, empty lines and white space included, is the user's and stays as it is.
    const HostsBlocks found = findHostsBlocks(content);
    if (!markersBalanced(path, found))
        return;
    removeHostsBlocks(content, found);

    QByteArray block = QByteArray(HostsBeginMarker) + '\n';
    for (const QString &address : addresses)
        block += address.toUtf8() + '\t' + host.toUtf8() + '\n';
    block += QByteArray(HostsEndMarker) + '\n';

    if (!content.isEmpty() && !content.endsWith('\n'))
        content.append('\n');
    content.append(block);

    // Recorded before it is written, so that a daemon started after a crash removes it.
    if (!recordHostsBlock())
        return;
    QString error;
    if (!writeHostsFile(path, content, &error)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] unable to write hosts file" << error;
        return;
    }
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] pinned control-plane host" << host << addresses;
}

void MacVpnBackend::unpinControlPlaneHosts()
{
    const QString path = hostsFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray content = file.readAll();
    file.close();

    const HostsBlocks found = findHostsBlocks(content);
    if (!markersBalanced(path, found) || found.spans.isEmpty())
        return;

    removeHostsBlocks(content, found);
    if (!content.isEmpty() && !content.endsWith('\n'))
        content.append('\n');

    QString error;
    if (!writeHostsFile(path, content, &error)) {
        qCWarning(lcTarvexBackend) << "[MacVpnBackend] unable to restore hosts file" << error;
        return;
    }
    qCInfo(lcTarvexBackend) << "[MacVpnBackend] unpinned control-plane hosts";
}
