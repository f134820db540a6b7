// A stand-in for amneziawg-go on machines without utun interfaces: it keeps the
// tunnel program's outside contract (arguments, name file, UAPI socket, SIGTERM)
// and records what it was configured with. See README.md for the knobs.

#include "standintunnel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

int intFromEnv(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

int usage()
{
    std::fprintf(stderr, "Usage: amneziawg-go -f utun[N]\n"
                         "The interface name is written to the file named by WG_TUN_NAME_FILE.\n");
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    if (qEnvironmentVariableIsSet("TARVEX_AWG_STDOUT")) {
        std::fprintf(stdout, "%s\n", qPrintable(qEnvironmentVariable("TARVEX_AWG_STDOUT")));
        std::fflush(stdout);
    }
    // A tunnel program without the right to create the interface dies before anything.
    if (qEnvironmentVariableIsSet("TARVEX_AWG_EXIT_MESSAGE")) {
        std::fprintf(stderr, "%s\n", qPrintable(qEnvironmentVariable("TARVEX_AWG_EXIT_MESSAGE")));
        return 1;
    }

    bool foreground = false;
    QStringList names;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("-f") || argument == QLatin1String("--foreground"))
            foreground = true;
        else
            names.append(argument);
    }
    static const QRegularExpression utunName(QStringLiteral("^utun[0-9]*$"));
    if (names.size() != 1 || !utunName.match(names.first()).hasMatch())
        return usage();
    if (!foreground) {
        std::fprintf(stderr, "ERROR: the stand-in only runs in the foreground; pass -f\n");
        return 1;
    }

    StandInTunnel::Options options;
    options.requestedName = names.first();
    options.nameFile = qEnvironmentVariable("WG_TUN_NAME_FILE");
    if (options.nameFile.isEmpty()) {
        std::fprintf(stderr, "ERROR: WG_TUN_NAME_FILE is not set; the stand-in keeps its "
                             "sockets next to the name file\n");
        return 1;
    }
    options.runtimeDir = QFileInfo(options.nameFile).absolutePath();
    if (!QFileInfo(options.runtimeDir).isDir()) {
        std::fprintf(stderr, "ERROR: runtime directory %s does not exist\n",
                     qPrintable(options.runtimeDir));
        return 1;
    }
    options.live = qEnvironmentVariable("TARVEX_AWG_LIVE") == QLatin1String("1");
    // A live tunnel is a real interface: only ever in the sandbox's network namespace.
    if (options.live && qEnvironmentVariable("TARVEX_SANDBOX") != QLatin1String("1")) {
        std::fprintf(stderr, "ERROR: TARVEX_AWG_LIVE=1 works only inside the development "
                             "sandbox (TARVEX_SANDBOX=1)\n");
        return 1;
    }
    options.hook = qEnvironmentVariable("TARVEX_TUNNEL_HOOK");
    options.simStateDir = qEnvironmentVariable("TARVEX_SIM_STATE");
    options.nameMode = qEnvironmentVariable("TARVEX_AWG_NAME");
    options.nameDelayMs = intFromEnv("TARVEX_AWG_NAME_DELAY_MS", 0);
    options.socketDelayMs = intFromEnv("TARVEX_AWG_SOCKET_DELAY_MS", 0);
    options.forcedSetErrno = qEnvironmentVariableIsSet("TARVEX_AWG_SET_ERRNO");
    options.setErrno = intFromEnv("TARVEX_AWG_SET_ERRNO", 0);
    options.replyChunkBytes = intFromEnv("TARVEX_AWG_REPLY_CHUNK_BYTES", 0);
    options.replyChunkDelayMs = intFromEnv("TARVEX_AWG_REPLY_CHUNK_DELAY_MS", 50);
    const QString level = qEnvironmentVariable("LOG_LEVEL");
    options.logLevel = level == QLatin1String("verbose") || level == QLatin1String("debug") ? 2
                       : level == QLatin1String("silent")                                   ? 0
                                                                                            : 1;

    // A client that hangs up in the middle of a reply must not kill the device.
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        std::perror("socketpair");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    if (qEnvironmentVariable("TARVEX_AWG_IGNORE_SIGTERM") == QLatin1String("1"))
        std::signal(SIGTERM, SIG_IGN);
    else
        sigaction(SIGTERM, &action, nullptr);

    StandInTunnel tunnel(options);
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        tunnel.stop();
        QCoreApplication::quit();
    });

    if (!tunnel.start())
        return 1;
    return app.exec();
}
