#include "hostlookup.h"

#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

namespace {

// Shared by the caller and the thread that asks the resolver; whoever ends last frees it.
struct Answer
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    int status = 0;
    std::vector<sockaddr_storage> addresses;
};

// Runs on a thread of its own and touches nothing but the answer: a lookup the caller has
// given up on may outlive it, even the program's shutdown, without holding either up.
void askResolver(const std::string &name, const std::shared_ptr<Answer> &answer)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo *entry = found; status == 0 && entry; entry = entry->ai_next) {
        sockaddr_storage address = {};
        if (entry->ai_addrlen <= sizeof(address)) {
            std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
            addresses.push_back(address);
        }
    }
    if (found)
        ::freeaddrinfo(found);

    const std::lock_guard<std::mutex> lock(answer->mutex);
    answer->status = status;
    answer->addresses = std::move(addresses);
    answer->done = true;
    answer->ready.notify_all();
}

} // namespace

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
    // International names go to the resolver in their ASCII form, as Qt's own lookup does.
    const QByteArray name = QUrl::toAce(host);
    if (name.isEmpty())
        return fail(QStringLiteral("invalid host name"));

    auto answer = std::make_shared<Answer>();
    std::thread(askResolver, name.toStdString(), answer).detach();

    std::unique_lock<std::mutex> lock(answer->mutex);
    const auto answered = [&answer] {
        return answer->done;
    };
    if (deadline.isForever())
        answer->ready.wait(lock, answered);
    else if (!answer->ready.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()),
                                     answered))
        return fail(QStringLiteral("name lookup timed out"));

    if (answer->status != 0)
        return fail(QString::fromLocal8Bit(::gai_strerror(answer->status)));
    QList<QHostAddress> addresses;
    for (const sockaddr_storage &address : answer->addresses)
        addresses.append(QHostAddress(reinterpret_cast<const sockaddr *>(&address)));
    return addresses;
}
