#include "hostlookup.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QTimer>

QList<QHostAddress> HostLookup::resolve(const QString &host, const QDeadlineTimer &deadline,
                                        QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return QList<QHostAddress>();
    };
    if (deadline.hasExpired())
        return fail(QStringLiteral("no time left for name lookups"));

    QEventLoop loop;
    QHostInfo result;
    bool answered = false;
    const int id = QHostInfo::lookupHost(host, &loop, [&](const QHostInfo &info) {
        result = info;
        answered = true;
        loop.quit();
    });
    const qint64 remaining = deadline.remainingTime();
    if (remaining >= 0)
        QTimer::singleShot(remaining, &loop, &QEventLoop::quit);
    if (!answered)
        loop.exec();
    if (!answered) {
        // The resolver's thread finishes on its own; its answer goes nowhere.
        QHostInfo::abortHostLookup(id);
        return fail(QStringLiteral("name lookup timed out"));
    }
    if (result.error() != QHostInfo::NoError)
        return fail(result.errorString());
    return result.addresses();
}
