#include "systemfilewriter.h"

#include <QFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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

} // namespace

SystemFileWriter::Result SystemFileWriter::write(const QString &path, const QByteArray &data,
                                                 QString *error)
{
    // Opening the original for writing (without truncating it) decides whether the file
    // may change at all: a rename would also replace a read-only file in a writable
    // directory. The descriptor also gives the owner and mode to keep.
    QFile original(path);
    if (!original.open(QIODevice::ReadWrite)) {
        *error = original.errorString();
        return Result::Failed;
    }

    switch (replaceAtomically(path, original.handle(), data, error)) {
    case AtomicReplace::Done:
        return Result::Replaced;
    case AtomicReplace::Failed:
        return Result::Failed;
    case AtomicReplace::Impossible:
        break;
    }

    // The file may change but cannot be replaced: its directory is not writable, the
    // owner cannot be kept, or the path is a mount point. Rewriting it in place is what
    // remains; overwriting before truncating means a shrinking file (every unpin) needs
    // no new disk space on the way.
    if (original.write(data) != data.size() || !original.flush() || !original.resize(data.size())) {
        *error = original.errorString();
        return Result::Failed;
    }
    return Result::RewrittenInPlace;
}
