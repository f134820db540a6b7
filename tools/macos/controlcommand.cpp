#include "livenetwork.h"
#include "simstate.h"
#include "simstatelock.h"
#include "standincommands.h"

#include <QDir>
#include <QFile>

#include <functional>

#include <fcntl.h>
#include <unistd.h>

// tarvex-macos: seeds, dumps and edits the simulated state for tests and developers.

namespace {

int usage()
{
    printErr(QStringLiteral(
        "usage: tarvex-macos [--state DIR] seed [--force]\n"
        "       tarvex-macos [--state DIR] dump\n"
        "       tarvex-macos [--state DIR] interface new utun [--pid PID] [--mtu N]\n"
        "       tarvex-macos [--state DIR] interface add NAME [--pid PID] [--mtu N] [--up]\n"
        "       tarvex-macos [--state DIR] interface remove NAME\n"
        "       tarvex-macos [--state DIR] default-route GATEWAY | -interface NAME | none\n"
        "The state directory defaults to $TARVEX_SIM_STATE.\n"));
    return 64;
}

int failure(const QString &message)
{
    printErr(QStringLiteral("tarvex-macos: %1\n").arg(message));
    return 1;
}

struct InterfaceOptions
{
    qint64 pid = 0;
    int mtu = 0;
    bool up = false;
};

bool parseInterfaceOptions(const QStringList &words, InterfaceOptions *options)
{
    for (int i = 0; i < words.size(); ++i) {
        bool ok = true;
        if (words[i] == QLatin1String("--up"))
            options->up = true;
        else if (words[i] == QLatin1String("--pid") && i + 1 < words.size())
            options->pid = words[++i].toLongLong(&ok);
        else if (words[i] == QLatin1String("--mtu") && i + 1 < words.size())
            options->mtu = words[++i].toInt(&ok);
        else
            return false;
        if (!ok)
            return false;
    }
    return true;
}

// Creates the interface file exclusively, the same claim the tunnel stand-in makes.
bool claimInterface(const QString &directory, const QString &name, const InterfaceOptions &options)
{
    const QByteArray path = QFile::encodeName(directory + QStringLiteral("/interfaces/") + name);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    QByteArray content;
    if (options.pid > 0)
        content += "pid " + QByteArray::number(options.pid) + '\n';
    if (options.mtu > 0)
        content += "mtu " + QByteArray::number(options.mtu) + '\n';
    if (options.up)
        content += "up\n";
    const bool written = ::write(fd, content.constData(), content.size()) == content.size();
    ::close(fd);
    return written;
}

int seed(const QString &directory, const QStringList &words)
{
    const bool force = words == QStringList{QStringLiteral("--force")};
    if (!words.isEmpty() && !force)
        return usage();
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("interfaces")))
        return failure(QStringLiteral("cannot create %1").arg(directory));
    const QStringList present =
        dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const bool fresh = present == QStringList{QStringLiteral("interfaces")} &&
                       QDir(dir.filePath(QStringLiteral("interfaces"))).isEmpty();
    if (!fresh && !force)
        return failure(QStringLiteral("%1 is not empty (use seed --force)").arg(directory));

    SimStateLock lock(directory);
    if (!lock.isLocked())
        return failure(lock.errorString());
    if (force) {
        QDir interfaces(dir.filePath(QStringLiteral("interfaces")));
        for (const QString &name : interfaces.entryList(QDir::Files | QDir::Hidden))
            interfaces.remove(name);
        for (const char *name : {"routes", "services", "knobs", "knob-counts", "log"})
            dir.remove(QLatin1String(name));
    }
    SimState state(directory);
    state.resetToDefault();
    QString error;
    if (!state.save(&error))
        return failure(error);
    return 0;
}

int interfaceCommand(const QString &directory, const QStringList &words)
{
    const QString action = words.value(0);
    const QString name = words.value(1);
    InterfaceOptions options;
    if (name.isEmpty() || !parseInterfaceOptions(words.mid(2), &options))
        return usage();
    if (action == QLatin1String("remove") && words.size() != 2)
        return usage();

    SimStateLock lock(directory);
    if (!lock.isLocked())
        return failure(lock.errorString());
    SimState state(directory);
    QString error;
    // Loading and saving first drops interfaces whose owners have ended, so their names
    // are free again.
    if (!state.load(&error) || !state.save(&error))
        return failure(error);

    if (action == QLatin1String("new")) {
        if (name != QLatin1String("utun"))
            return usage();
        for (int number = 0; number < 4096; ++number) {
            const QString candidate = QStringLiteral("utun%1").arg(number);
            if (claimInterface(directory, candidate, options)) {
                printOut(candidate + QLatin1Char('\n'));
                return 0;
            }
        }
        return failure(QStringLiteral("no free utun name"));
    }
    if (action == QLatin1String("add")) {
        if (!claimInterface(directory, name, options))
            return failure(QStringLiteral("interface %1 exists").arg(name));
        return 0;
    }
    if (action == QLatin1String("remove")) {
        if (!state.interfaces.remove(name))
            return failure(QStringLiteral("interface %1 does not exist").arg(name));
        if (!state.save(&error))
            return failure(error);
        return 0;
    }
    return usage();
}

// Runs work on the loaded state, holding the state's lock.
int withState(const QString &directory, const std::function<int(SimState &)> &work)
{
    SimStateLock lock(directory);
    if (!lock.isLocked())
        return failure(lock.errorString());
    SimState state(directory);
    QString error;
    if (!state.load(&error))
        return failure(error);
    return work(state);
}

// Replaces the IPv4 default route, as a move to another network does: through GATEWAY
// (reachable on an up interface), straight out of an interface, or none at all.
int replaceDefaultRoute(SimState &state, const QStringList &words, bool viaInterface)
{
    QString error;
    SimState::Route route;
    route.destination = SimAddress::netmask(SimAddress::Inet, 0);
    if (viaInterface) {
        route.interfaceName = words.at(1);
        if (!state.findInterface(route.interfaceName))
            return failure(QStringLiteral("interface %1 does not exist").arg(route.interfaceName));
    } else if (words.at(0) != QLatin1String("none")) {
        route.gateway = SimAddress::parse(words.at(0), SimAddress::Inet);
        route.interfaceName =
            route.gateway.isValid() ? state.interfaceReaching(route.gateway) : QString();
        if (route.interfaceName.isEmpty())
            return failure(QStringLiteral("gateway %1 is not reachable").arg(words.at(0)));
    }

    const bool live = LiveNetwork::isRequested() && LiveNetwork::isAllowed();
    const int index = state.findRoute(route.destination, 0);
    if (index >= 0) {
        if (live && !LiveNetwork::deleteRoute(state.routes.at(index), &error))
            return failure(error);
        state.routes.removeAt(index);
    }
    if (!route.interfaceName.isEmpty()) {
        if (live && !LiveNetwork::addRoute(route, &error))
            return failure(error);
        state.routes.append(route);
    }
    return state.save(&error) ? 0 : failure(error);
}

int defaultRouteCommand(const QString &directory, const QStringList &words)
{
    const bool viaInterface = words.value(0) == QLatin1String("-interface");
    if (words.size() != (viaInterface ? 2 : 1))
        return usage();
    return withState(directory, [&](SimState &state) {
        return replaceDefaultRoute(state, words, viaInterface);
    });
}

} // namespace

int runControl(const QStringList &arguments)
{
    QStringList words = arguments;
    QString directory = qEnvironmentVariable("TARVEX_SIM_STATE");
    if (words.value(0) == QLatin1String("--state")) {
        if (words.size() < 2)
            return usage();
        directory = words.at(1);
        words = words.mid(2);
    }
    if (directory.isEmpty()) {
        printErr(QStringLiteral("tarvex-macos: no state directory (--state DIR or "
                                "TARVEX_SIM_STATE)\n"));
        return 64;
    }

    const QString command = words.value(0);
    if (command == QLatin1String("seed"))
        return seed(directory, words.mid(1));
    if (command == QLatin1String("interface"))
        return interfaceCommand(directory, words.mid(1));
    if (command == QLatin1String("default-route"))
        return defaultRouteCommand(directory, words.mid(1));
    if (command == QLatin1String("dump") && words.size() == 1) {
        return withState(directory, [](SimState &state) {
            printOut(state.dump());
            return 0;
        });
    }
    return usage();
}
