// tarvex-peerlist-bench: the peer list page with many peers, in the client's real window
// (Main, as tarvex-client's main starts it), offscreen. Signed in from the settings with
// PEERS peers in the list's cache; the vendor API is a closed port, so every page shows
// what the cache holds, as it would offline. Measures:
//
// - the first frame: from main() to the first frame that shows the peer list's rows;
// - opening the page: NAVIGATIONS times, from the switch to the peer list (from the
//   add-peer page) to the first frame that shows it, made anew;
// - scrolling: FRAMES frames, each moving the list by STEP pixels (down to the end, then
//   back up), from the move to the frame swapped with it.
//
//   tarvex-peerlist-bench [--peers N] [--navigations N] [--frames N] [--step PX]
//
// Prints the figures (median, 95th percentile, worst) on standard output. Exit code 0,
// or 1 when a frame does not come or the list does not show every peer.

#include "cliententry.h"
#include "vpnmanager.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <functional>

Q_IMPORT_QML_PLUGIN(App_ApiPlugin)
Q_IMPORT_QML_PLUGIN(App_StoresPlugin)

namespace {

constexpr int frameTimeoutMs = 10000;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

QJsonArray peers(int count)
{
    // about the length of a real configuration
    const QString config = QStringLiteral("vpn://") + QString(600, QLatin1Char('A'));
    QJsonArray list;
    for (int i = 1; i <= count; ++i)
        list.append(QJsonObject{{QStringLiteral("id"), i},
                                {QStringLiteral("name"), QStringLiteral("Соединение %1").arg(i)},
                                {QStringLiteral("protocol"), QStringLiteral("amnezia-v1")},
                                {QStringLiteral("config"), config + QString::number(i)}});
    return list;
}

// Signed in, the e-mail confirmed, the list in the cache: what the next start reads.
void storeSession(int peerCount)
{
    QSettings settings;
    settings.clear();
    settings.setValue(QStringLiteral("Auth/token"), QStringLiteral("bench"));
    settings.setValue(QStringLiteral("Auth/userJson"),
                      QStringLiteral(R"({"name":"Анна","email":"anna@example.com",)"
                                     R"("email_verified_at":"2024-05-01","balance":1234.5})"));
    settings.setValue(
        QStringLiteral("Peers/peersJson"),
        QString::fromUtf8(QJsonDocument(peers(peerCount)).toJson(QJsonDocument::Compact)));
    settings.sync();
}

// Runs the event loop until ready() holds right after a frame was swapped, or the
// time-out; the nanoseconds from `since` to that frame, -1 on time-out. Offscreen, Qt
// Quick renders on this thread, so ready() may look at the items.
qint64 untilFrame(QQuickWindow *window, const QElapsedTimer &since,
                  const std::function<bool()> &ready)
{
    QEventLoop loop;
    qint64 elapsed = -1;
    const auto swapped = QObject::connect(
        window, &QQuickWindow::frameSwapped, &loop,
        [&] {
            if (ready()) {
                elapsed = since.nsecsElapsed();
                loop.quit();
            }
        },
        Qt::DirectConnection);
    QTimer::singleShot(frameTimeoutMs, &loop, &QEventLoop::quit);
    window->update();
    loop.exec();
    QObject::disconnect(swapped);
    return elapsed;
}

QString summary(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double share) {
        return values.at(qMin(values.size() - 1, int(share * values.size())));
    };
    return QStringLiteral("median %1, 95%: %2, worst %3")
        .arg(at(0.5), 0, 'f', 2)
        .arg(at(0.95), 0, 'f', 2)
        .arg(values.last(), 0, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    // Settings, socket and API of this run only, before anything reads them.
    const QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qputenv("TARVEX_SERVICE_SOCKET", QFile::encodeName(home.filePath(QStringLiteral("none.sock"))));
    qputenv("TARVEX_API_URL",
            QByteArray("http://127.0.0.1:") + QByteArray::number(closedPort()) + "/api/v1");
    QGuiApplication app(argc, argv);
    ClientEntry::setApplicationIdentity();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption peersOption(QStringLiteral("peers"), QStringLiteral("Peers."),
                                         QStringLiteral("n"), QStringLiteral("500"));
    const QCommandLineOption navigationsOption(QStringLiteral("navigations"),
                                               QStringLiteral("Page openings."),
                                               QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Scrolled frames."), QStringLiteral("n"),
                                          QStringLiteral("1200"));
    const QCommandLineOption stepOption(QStringLiteral("step"),
                                        QStringLiteral("Pixels per scrolled frame."),
                                        QStringLiteral("px"), QStringLiteral("60"));
    parser.addOptions({peersOption, navigationsOption, framesOption, stepOption});
    parser.process(app);
    const int peerCount = parser.value(peersOption).toInt();
    storeSession(peerCount);

    VpnManager manager;
    QQmlApplicationEngine engine;
    ClientEntry::prepareEngine(engine, &manager);
    ClientEntry::loadWindow(engine);
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    const auto list = [window] {
        auto *page = window->findChild<QQuickItem *>(QStringLiteral("peersPage"));
        return page ? page->findChild<QQuickItem *>(QStringLiteral("peerList")) : nullptr;
    };
    const auto listShown = [&] {
        QQuickItem *view = list();
        return view && view->isVisible() && view->property("count").toInt() == peerCount;
    };

    const qint64 firstFrame = untilFrame(window, sinceMain, listShown);
    if (firstFrame < 0) {
        QTextStream(stderr) << "tarvex-peerlist-bench: the list never showed " << peerCount
                            << " peers\n";
        return 1;
    }

    QList<double> openings;
    const int navigations = parser.value(navigationsOption).toInt();
    for (int i = 0; i < navigations; ++i) {
        window->setProperty("appPage", QStringLiteral("addPeer"));
        if (untilFrame(window, sinceMain, [&] { return list() == nullptr; }) < 0)
            return 1;
        QElapsedTimer opening;
        opening.start();
        QQuickItem *before = list();
        window->setProperty("appPage", QStringLiteral("peers"));
        const qint64 elapsed =
            untilFrame(window, opening, [&] { return list() != before && listShown(); });
        if (elapsed < 0)
            return 1;
        openings.append(elapsed / 1e6);
    }

    // Scrolled once the offline reload has ended and the list takes input again.
    QQuickItem *view = list();
    QElapsedTimer settling;
    settling.start();
    if (untilFrame(window, settling, [&] { return view->isEnabled(); }) < 0)
        return 1;
    const double step = parser.value(stepOption).toDouble();
    const double end = view->property("contentHeight").toDouble() - view->height();
    double direction = 1;
    QList<double> frames;
    const int frameCount = parser.value(framesOption).toInt();
    for (int i = 0; i < frameCount; ++i) {
        double y = view->property("contentY").toDouble() + direction * step;
        if (y > end || y < 0) {
            direction = -direction;
            y = qBound(0.0, y, end);
        }
        QElapsedTimer frame;
        frame.start();
        view->setProperty("contentY", y);
        const qint64 elapsed = untilFrame(window, frame, [] { return true; });
        if (elapsed < 0)
            return 1;
        frames.append(elapsed / 1e6);
    }

    out() << "peer list with " << peerCount << " peers (offscreen):\n";
    out() << "  main() to the first frame of the list, ms: " << firstFrame / 1000000 << '\n';
    out() << "  opening the page to its first frame, ms (" << navigations
          << " times): " << summary(openings) << '\n';
    out() << "  scrolled frame, ms (" << frameCount << " frames of " << step
          << " px): " << summary(frames) << '\n';
    return 0;
}
