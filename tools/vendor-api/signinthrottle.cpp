#include "signinthrottle.h"

namespace {
// Failures further apart than this do not add up.
constexpr qint64 FailureWindowMs = 15 * 60 * 1000;
} // namespace

SignInThrottle::SignInThrottle(int maxFailures, qint64 lockoutMs)
    : maxFailures(maxFailures)
    , lockoutMs(lockoutMs)
{
    clock.start();
}

bool SignInThrottle::isLocked(const QString &email) const
{
    const auto it = entries.constFind(email);
    return it != entries.constEnd() && clock.elapsed() < it->lockedUntilMs;
}

void SignInThrottle::recordFailure(const QString &email)
{
    Entry &entry = entries[email];
    const qint64 now = clock.elapsed();
    if (now - entry.lastFailureMs > FailureWindowMs)
        entry.failures = 0;
    entry.lastFailureMs = now;
    if (++entry.failures >= maxFailures) {
        entry.failures = 0;
        entry.lockedUntilMs = now + lockoutMs;
    }
}

void SignInThrottle::recordSuccess(const QString &email)
{
    entries.remove(email);
}
