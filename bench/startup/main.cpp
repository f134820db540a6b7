// tarvex-startup-bench: starts the client's interface exactly as tarvex-client's main does
// (identity, VpnManager, engine, the module's Main) and reports, as one line on standard
// output:
//
//   first-frame-realtime-ns=N main-to-first-frame-ms=N sign-in-page=1 rss-kb=N hwm-kb=N
//
// first-frame-realtime-ns is the wall clock (CLOCK_REALTIME) when the window's first frame
// was swapped, so that a caller that noted the clock before starting the process gets the
// whole start: exec, loading the libraries, static initialisation, QML, first frame.
// rss-kb and hwm-kb are the resident and peak resident memory settleMs after that frame.
// Exit code 0, or 1 when no frame came or it did not show the sign-in page.

#include "cliententry.h"
#include "vpnmanager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTextStream>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <atomic>
#include <ctime>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

namespace {

// Long enough for what follows the first frame at start (the settings read, timers).
constexpr int settleMs = 1000;
constexpr int noFrameMs = 10000;

qint64 realtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A "Vm...:   1234 kB" line of /proc/self/status, in kB; -1 when missing.
qint64 statusKb(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QGuiApplication app(argc, argv);
    ClientEntry::setApplicationIdentity();

    VpnManager manager;
    QQmlApplicationEngine engine;
    ClientEntry::prepareEngine(engine, &manager);

    // Stamped where the frame is swapped, which may be the render thread; looked at on
    // this one.
    std::atomic<qint64> frameRealtimeNs{0};
    std::atomic<qint64> frameSinceMainMs{0};
    bool signInShown = false;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app, [&](QObject *root, const QUrl &) {
            auto *window = qobject_cast<QQuickWindow *>(root);
            if (!window)
                return;
            QObject::connect(
                window, &QQuickWindow::frameSwapped, window,
                [&] {
                    qint64 none = 0;
                    if (frameRealtimeNs.compare_exchange_strong(none, realtimeNs()))
                        frameSinceMainMs = sinceMain.elapsed();
                },
                Qt::DirectConnection);
            QObject::connect(
                window, &QQuickWindow::frameSwapped, &app,
                [&, window] {
                    if (signInShown)
                        return;
                    auto *page = window->findChild<QQuickItem *>(QStringLiteral("loginPage"));
                    signInShown = page && page->isVisible();
                    QTimer::singleShot(settleMs, &app, &QCoreApplication::quit);
                },
                Qt::QueuedConnection);
        });
    QTimer::singleShot(noFrameMs, &app, &QCoreApplication::quit);
    ClientEntry::loadWindow(engine);
    app.exec();

    QTextStream out(stdout);
    if (frameRealtimeNs == 0) {
        QTextStream(stderr) << "tarvex-startup-bench: no frame within " << noFrameMs << " ms\n";
        return 1;
    }
    out << "first-frame-realtime-ns=" << frameRealtimeNs
        << " main-to-first-frame-ms=" << frameSinceMainMs << " sign-in-page=" << int(signInShown)
        << " rss-kb=" << statusKb("VmRSS") << " hwm-kb=" << statusKb("VmHWM") << '\n';
    return signInShown ? 0 : 1;
}
