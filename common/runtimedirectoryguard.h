#pragma once

#include <QString>

// The daemon's runtime directory sits in /tmp, where every local user can create entries.
// Whatever it finds there is trusted only when the daemon's own user (root) made it and
// nobody else can change it: otherwise another user could read the tunnel's UAPI request
// (the private key with it) from a socket of their own, or feed root commands an
// interface name of their choosing. Everything here is a single system call or a short
// read that cannot block: no wait on another user's file.
class RuntimeDirectoryGuard
{
public:
    RuntimeDirectoryGuard() = delete;

    // Makes path a directory the daemon can trust: a real directory (not a link) owned
    // by the daemon's user without group or other write permission. Anything else found
    // there is renamed out of the way and a fresh directory is made with mode 0700.
    // Missing parents are created. False with the reason in detail when that fails.
    static bool prepare(const QString &path, QString *detail);

    // The interface name in the tunnel program's name file: the first line of a regular
    // file owned by the daemon's user, opened without following links and without
    // blocking, when it is a tunnel interface's name. Empty otherwise; problem then says
    // why (empty while the file does not exist yet).
    static QString readInterfaceName(const QString &nameFile, QString *problem);

    // True when path is a socket owned by the daemon's user: the only kind of UAPI
    // endpoint the daemon connects to.
    static bool isTrustedSocket(const QString &path, QString *problem);
};
