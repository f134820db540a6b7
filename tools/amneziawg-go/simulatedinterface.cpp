#include "simulatedinterface.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int HighestUnit = 255;

// Creating the file exclusively is the claim: two programs can never get the same
// name, whatever else runs in the sandbox.
bool createExclusively(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray owner = "pid " + QByteArray::number(qint64(::getpid())) + '\n';
    const bool written = ::write(fd, owner.constData(), size_t(owner.size())) == owner.size();
    ::close(fd);
    if (!written)
        ::unlink(native.constData());
    return written;
}

} // namespace

QString SimulatedInterface::claim(const QString &stateDir, const QString &runtimeDir)
{
    const QDir interfaces(QDir(stateDir).filePath(QStringLiteral("interfaces")));
    const QDir runtime(runtimeDir);
    for (int unit = 0; unit <= HighestUnit; ++unit) {
        const QString name = QStringLiteral("utun%1").arg(unit);
        if (QFile::exists(runtime.filePath(name + QStringLiteral(".sock"))))
            continue;
        if (createExclusively(interfaces.filePath(name)))
            return name;
    }
    return {};
}

bool SimulatedInterface::claimName(const QString &stateDir, const QString &name)
{
    return createExclusively(QDir(stateDir).filePath(QStringLiteral("interfaces/") + name));
}

void SimulatedInterface::release(const QString &stateDir, const QString &name)
{
    // The command stand-ins change the state only under this lock; removing the file
    // outside it could tear a route listing in half.
    const QByteArray lockPath = QFile::encodeName(QDir(stateDir).filePath(QStringLiteral("lock")));
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    QFile::remove(QDir(stateDir).filePath(QStringLiteral("interfaces/") + name));
    if (lock >= 0)
        ::close(lock);
}
