#include "simstatelock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SimStateLock::SimStateLock(const QString &stateDirectory)
{
    const QByteArray path = QFile::encodeName(stateDirectory + QStringLiteral("/lock"));
    descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error = QStringLiteral("cannot open %1: %2")
                    .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    int result;
    do {
        result = ::flock(descriptor, LOCK_EX);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        error = QStringLiteral("cannot lock %1: %2")
                    .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno)));
        ::close(descriptor);
        descriptor = -1;
    }
}

SimStateLock::~SimStateLock()
{
    if (descriptor >= 0)
        ::close(descriptor);
}
