#pragma once

#include <QString>

// Holds flock(LOCK_EX) on the state directory's "lock" file for its lifetime, so the
// read-modify-write of one stand-in never interleaves with another's (the tunnel
// stand-in takes the same lock to remove its interface).
class SimStateLock
{
public:
    explicit SimStateLock(const QString &stateDirectory);
    ~SimStateLock();

    SimStateLock(const SimStateLock &) = delete;
    SimStateLock &operator=(const SimStateLock &) = delete;

    bool isLocked() const { return descriptor >= 0; }
    QString errorString() const { return error; }

private:
    int descriptor = -1;
    QString error;
};
