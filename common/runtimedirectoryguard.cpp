#include "runtimedirectoryguard.h"

#include "configvaluevalidator.h"
#include "tarvexlogging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than any interface name; the rest of a bigger file is never read.
constexpr int NameFileReadBytes = 64;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Why an entry found at path may not be trusted; empty when it may. expectedType is
// S_IFDIR, S_IFREG or S_IFSOCK.
QString untrustedReason(const struct stat &info, mode_t expectedType)
{
    if ((info.st_mode & S_IFMT) != expectedType)
        return QStringLiteral("unexpected file type %1").arg(info.st_mode & S_IFMT, 0, 8);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("owned by uid %1").arg(info.st_uid);
    if (expectedType == S_IFDIR && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("writable by group or others (mode %1)")
            .arg(info.st_mode & 07777, 0, 8);
    return {};
}

// Empty when path holds a trusted directory; otherwise why not ("missing" when absent).
QString directoryProblem(const QString &path)
{
    struct stat info = {};
    if (::lstat(nativePath(path).constData(), &info) != 0)
        return errno == ENOENT ? QStringLiteral("missing") : systemError(errno);
    return untrustedReason(info, S_IFDIR);
}

// A rename never follows the entry nor touches what it holds, so nothing another user
// placed inside can redirect it; the entry keeps its content for a later look.
bool moveAside(const QString &path, QString *detail)
{
    const QString aside = QStringLiteral("%1.untrusted-%2-%3")
                              .arg(path)
                              .arg(QDateTime::currentSecsSinceEpoch())
                              .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    if (::rename(nativePath(path).constData(), nativePath(aside).constData()) != 0) {
        *detail = QStringLiteral("cannot move %1 aside: %2").arg(path, systemError(errno));
        return false;
    }
    qCWarning(lcTarvexBackend) << "[RuntimeDirectoryGuard] untrusted runtime directory moved to"
                               << aside;
    return true;
}

} // namespace

bool RuntimeDirectoryGuard::prepare(const QString &path, QString *detail)
{
    QString problem = directoryProblem(path);
    if (problem.isEmpty())
        return true;

    if (problem != QLatin1String("missing")) {
        qCWarning(lcTarvexBackend)
            << "[RuntimeDirectoryGuard] runtime directory not trusted" << path << problem;
        if (!moveAside(path, detail))
            return false;
    }

    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent)) {
        *detail = QStringLiteral("cannot create %1").arg(parent);
        return false;
    }
    // Created here and checked again: another user may have slipped an entry in since
    // the rename, and then it is not ours.
    if (::mkdir(nativePath(path).constData(), 0700) != 0 && errno != EEXIST) {
        *detail = QStringLiteral("cannot create %1: %2").arg(path, systemError(errno));
        return false;
    }
    problem = directoryProblem(path);
    if (!problem.isEmpty()) {
        *detail = QStringLiteral("%1: %2").arg(path, problem);
        return false;
    }
    return true;
}

QString RuntimeDirectoryGuard::readInterfaceName(const QString &nameFile, QString *problem)
{
    problem->clear();
    // O_NONBLOCK: a FIFO in place of the file would otherwise block open() until a
    // writer comes, which may be never.
    const int fd =
        ::open(nativePath(nameFile).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            *problem = systemError(errno);
        return {};
    }

    QByteArray content;
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        *problem = systemError(errno);
    } else {
        *problem = untrustedReason(info, S_IFREG);
        if (problem->isEmpty()) {
            content.resize(NameFileReadBytes);
            const ssize_t got = ::read(fd, content.data(), size_t(content.size()));
            content.resize(got > 0 ? qsizetype(got) : 0);
        }
    }
    ::close(fd);
    if (!problem->isEmpty())
        return {};

    const qsizetype lineEnd = content.indexOf('\n');
    const QString name =
        QString::fromLocal8Bit(lineEnd < 0 ? content : content.left(lineEnd)).trimmed();
    // Still being written, or written empty: the caller polls on.
    if (name.isEmpty())
        return {};
    if (!ConfigValueValidator::isInterfaceName(name)) {
        *problem = QStringLiteral("not a tunnel interface name: %1").arg(name.left(32));
        return {};
    }
    return name;
}

bool RuntimeDirectoryGuard::isTrustedSocket(const QString &path, QString *problem)
{
    struct stat info = {};
    if (::lstat(nativePath(path).constData(), &info) != 0) {
        *problem = systemError(errno);
        return false;
    }
    *problem = untrustedReason(info, S_IFSOCK);
    return problem->isEmpty();
}
