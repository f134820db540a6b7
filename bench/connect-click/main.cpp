// tarvex-connectclick-bench: clicks "Подключиться" in the client's real window (Main, as
// tarvex-client's main starts it), offscreen, and times each click to the first frame
// that shows the row connected, in the program's own event loop. It needs what
// bench/connect-click.sh prepares: settings (XDG_CONFIG_HOME) signed in to an account with
// one peer, the vendor API (TARVEX_API_URL) and the daemon (TARVEX_SERVICE_SOCKET).
//
//   tarvex-connectclick-bench [--clicks N]     (default 20)
//
// One click first that is not counted, then N, each followed by a disconnect that is
// waited for. Prints one line per counted click on standard output:
//
//   click <ms to the frame> <ms to the row's change>
//
// Exit code 0, or 1 when the row does not appear or a click does not connect.

#include "cliententry.h"
#include "vpnmanager.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <functional>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

namespace {

constexpr int waitLimitMs = 30000;

// Runs the event loop until done() holds, checked whenever watch() quits the loop; false
// on time-out.
bool runUntil(const std::function<bool()> &done, const std::function<void(QEventLoop &)> &watch)
{
    QEventLoop loop;
    watch(loop);
    bool timedOut = false;
    QTimer::singleShot(waitLimitMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    while (!done() && !timedOut)
        loop.exec();
    return done();
}

// Delegates of a list are its children on the screen only, not as objects.
QQuickItem *shownItem(QQuickItem *item, const QString &name)
{
    if (item->objectName() == name)
        return item;
    for (QQuickItem *child : item->childItems()) {
        if (QQuickItem *found = shownItem(child, name))
            return found;
    }
    return nullptr;
}

QQuickItem *connectButton(QQuickWindow *window)
{
    return shownItem(window->contentItem(), QStringLiteral("connectButton"));
}

void click(QQuickWindow *window, QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    ClientEntry::setApplicationIdentity();
    QCommandLineParser parser;
    const QCommandLineOption clicksOption(QStringLiteral("clicks"),
                                          QStringLiteral("Clicks that are counted."),
                                          QStringLiteral("N"), QStringLiteral("20"));
    parser.addOption(clicksOption);
    parser.process(app);
    const int clicks = parser.value(clicksOption).toInt();

    VpnManager manager;
    QQmlApplicationEngine engine;
    ClientEntry::prepareEngine(engine, &manager);
    ClientEntry::loadWindow(engine);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    QTextStream err(stderr);
    if (!window)
        return 1;

    // The peer's row, with the page loaded: the busy overlay would take the click.
    const auto idleRow = [&] {
        QQuickItem *button = connectButton(window);
        return button && button->isVisible() && !window->property("globalLoading").toBool() &&
               manager.state() == VpnManager::Disconnected;
    };
    QTimer poll;
    poll.start(20);
    const auto onPoll = [&](QEventLoop &loop) {
        QObject::connect(&poll, &QTimer::timeout, &loop, &QEventLoop::quit);
    };
    if (!runUntil(idleRow, onPoll)) {
        err << "tarvex-connectclick-bench: the peer's row did not appear\n";
        return 1;
    }

    QTextStream out(stdout);
    poll.stop();
    for (int run = 0; run <= clicks; ++run) {
        qint64 changedMs = -1;
        qint64 shownMs = -1;
        QElapsedTimer clock;
        const auto shown = [&] {
            return shownMs >= 0;
        };
        const auto onConnected = [&](QEventLoop &loop) {
            QObject::connect(&manager, &VpnManager::stateChanged, &loop, [&] {
                if (changedMs < 0 && manager.isConnected())
                    changedMs = clock.elapsed();
            });
            // Offscreen, Qt Quick renders on this thread, so the row can be looked at.
            QObject::connect(window, &QQuickWindow::frameSwapped, &loop, [&] {
                if (changedMs >= 0 && shownMs < 0 &&
                    connectButton(window)->property("text").toString() == u"Отключиться") {
                    shownMs = clock.elapsed();
                    loop.quit();
                }
            });
        };
        clock.start();
        click(window, connectButton(window));
        if (!runUntil(shown, onConnected)) {
            err << "tarvex-connectclick-bench: click " << run
                << " did not connect: " << manager.error() << '\n';
            return 1;
        }
        if (run > 0)
            out << "click " << shownMs << ' ' << changedMs << Qt::endl;

        click(window, connectButton(window));
        const auto onStates = [&](QEventLoop &loop) {
            QObject::connect(&manager, &VpnManager::stateChanged, &loop, &QEventLoop::quit);
        };
        if (!runUntil([&] { return manager.state() == VpnManager::Disconnected; }, onStates)) {
            err << "tarvex-connectclick-bench: click " << run << " did not disconnect\n";
            return 1;
        }
    }
    return 0;
}
