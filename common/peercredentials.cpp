#include "peercredentials.h"

#if defined(Q_OS_MACOS)
#include <sys/types.h>
#include <unistd.h>
#elif defined(Q_OS_LINUX)
#include <sys/socket.h>
#endif

bool PeerCredentials::userId(qintptr socketDescriptor, uint *uid)
{
    if (socketDescriptor < 0 || !uid)
        return false;
#if defined(Q_OS_MACOS)
    uid_t peerUid = 0;
    gid_t peerGid = 0;
    if (::getpeereid(int(socketDescriptor), &peerUid, &peerGid) != 0)
        return false;
    *uid = uint(peerUid);
    return true;
#elif defined(Q_OS_LINUX)
    struct ucred credentials = {};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof(credentials))
        return false;
    *uid = uint(credentials.uid);
    return true;
#else
    return false;
#endif
}
