#pragma once

#include <QtGlobal>

// Who is at the other end of a connected local (Unix-domain) socket, as the kernel
// recorded it when the connection was made: the caller cannot claim another user.
// macOS answers through getpeereid(), Linux through SO_PEERCRED.
class PeerCredentials
{
public:
    PeerCredentials() = delete;

    // The peer's effective user id; false when the descriptor is no connected local
    // socket or the platform has no way to tell.
    static bool userId(qintptr socketDescriptor, uint *uid);
};
