#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// Locks one e-mail out of signing in for a while after repeated wrong passwords, so
// that a password cannot be guessed at the speed of the network. Kept in memory: a
// restart forgives everyone, which is acceptable for a development server.
class SignInThrottle
{
public:
    SignInThrottle(int maxFailures, qint64 lockoutMs);

    bool isLocked(const QString &email) const;
    void recordFailure(const QString &email);
    void recordSuccess(const QString &email);

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
        qint64 lockedUntilMs = -1;
    };

    int maxFailures;
    qint64 lockoutMs;
    QElapsedTimer clock;
    QHash<QString, Entry> entries;
};
