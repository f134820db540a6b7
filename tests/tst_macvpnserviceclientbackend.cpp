#include "daemonversioncheck.h"
#include "fakeservicedaemon.h"
#include "macvpnserviceclientbackend.h"
#include "vpnconfigfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

namespace {

using Status = PlatformVpnBackend::Status;
using FSD = FakeServiceDaemon;
using Answer = FSD::Answer;
const QString Unavailable = QStringLiteral("VPN-сервис недоступен: ");

// The daemon's minute-long reply wait, cut down so a silent daemon costs little.
class QuickBackend : public MacVpnServiceClientBackend
{
protected:
    int replyTimeoutMs() const override { return 300; }
};

// StaleFile: what a crashed daemon leaves, a file where its socket was that nobody listens on
// (the kernel refuses a connection to a plain file as to a dead socket).
enum DaemonState { Running, Stopped, StaleFile };

} // namespace

class TestMacVpnServiceClientBackend : public QObject
{
    Q_OBJECT

private slots:
    // Transport failures end the connect at once with a reason a person understands; only the
    // silent daemon is waited for (here 0.3 s instead of a minute). A killed daemon is
    // e2e_attacks' scenario.
    void replies_data()
    {
        QTest::addColumn<int>("daemonState");
        QTest::addColumn<QString>("command");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("error");    // %1: the socket's path
        QTest::addColumn<bool>("fails");       // errorOccurred; refreshStatus false
        QTest::addColumn<QVariantMap>("peer"); // what a status fills in

        const QString no = QStringLiteral("daemon says no");
        const auto row = [](const char *name, const char *command, const QJsonObject &reply,
                            Status status, const QString &error, bool fails,
                            const QVariantMap &peer = {}) {
            QTest::newRow(name) << int(Running) << command << FSD::reply(reply) << status << error
                                << fails << peer;
        };
        const auto unavailable = [](const char *name, DaemonState state, const Answer &answer,
                                    const QString &reason) {
            QTest::newRow(name) << int(state) << "connect" << answer << Status::Error
                                << Unavailable + reason << true << QVariantMap();
        };

        QJsonObject arrayPeer = FSD::okReply("connected");
        arrayPeer.insert("peer", QJsonArray{1, 2});

        // Success is "ok": true and nothing else that might read as true.
        row("connect, ok 1", "connect", {{"ok", 1}, {"error", no}}, Status::Error, no, true);
        // A failure without a usable reason gets the operation's own text.
        row("status, empty error", "status", FSD::failReply("error", ""), Status::Error,
            "Не удалось получить состояние VPN", true);
        // The status query succeeded; "error" is the daemon's reason for a failed tunnel.
        row("status error with reason", "status", FSD::okReply("error", {}, "Туннель остановлен"),
            Status::Error, "Туннель остановлен", false);
        row("status connected, stray error text", "status",
            FSD::okReply("connected", {{"name", "Riga"}}, no), Status::Connected, "", false,
            {{"name", "Riga"}});
        row("status, peer not an object", "status", arrayPeer, Status::Connected, "", false);
        row("status unknown to the client", "status", FSD::okReply("Connected"),
            Status::Disconnected, "", false);
        // No socket file: the daemon is not running, said so, and no talk of sudo.
        unavailable("no socket file", Stopped, {}, "сервис не запущен: сокета %1 нет");
        unavailable("stale socket file", StaleFile, {},
                    "socket сервиса есть, но сервис не запущен. Перезапустите сервис через sudo");
        unavailable("silent daemon", Running, {Answer::Silent, {}}, "сервис не ответил за 0.3 с");
        unavailable("closed without reply", Running, {},
                    "сервис закрыл соединение, не ответив на запрос");
        unavailable("not JSON", Running, {Answer::Reply, "ok\n"},
                    "ответ сервиса не удалось прочитать");
    }

    void replies()
    {
        QFETCH(int, daemonState);
        QFETCH(QString, command);
        QFETCH(Answer, answer);
        QFETCH(Status, status);
        QFETCH(QString, error);
        QFETCH(bool, fails);
        QFETCH(QVariantMap, peer);

        FakeServiceDaemon daemon;
        daemon.setAnswer(command, answer);
        const QString path = qEnvironmentVariable("TARVEX_SERVICE_SOCKET");
        error.replace("%1", path);
        if (daemonState != Running)
            daemon.stop();
        if (daemonState == StaleFile)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QuickBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        QVariantMap filled{{QStringLiteral("left over"), true}};
        bool result = true;
        QElapsedTimer timer;
        timer.start();
        // Twice: each failure is news, even the same one again.
        for (int i = 0; i < 2; ++i) {
            if (command == QLatin1String("status"))
                result = backend.refreshStatus(&filled);
            else
                backend.connectVpn(VpnConfigFixture::sampleConfig());
        }

        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(backend.status(), status);
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(result, !fails || command != "status");
        QCOMPARE(errors.count(), fails ? 2 : 0);
        if (fails)
            QCOMPARE(errors.at(1).at(0).toString(), error);
        if (command == QLatin1String("status"))
            QCOMPARE(filled, peer);
    }

    void logsNeverCarryKeys()
    {
        FakeServiceDaemon daemon;
        const QString url = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        const QVariantMap peer{{"id", 7}, {"config", url}};
        // The reply echoes the peer, so both directions are logged with the secrets in.
        daemon.setReply("connect", FSD::okReply("connected", QJsonObject::fromVariantMap(peer)));

        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &,
                                      const QString &message) { messages.append(message); });
        MacVpnServiceClientBackend backend;
        backend.connectVpn(VpnConfigFixture::sampleConfig(), peer);
        qInstallMessageHandler(previous);

        QCOMPARE(backend.status(), Status::Connected);
        const QString log = messages.join(QLatin1Char('\n'));
        QVERIFY(!log.contains(
            VpnConfigFixture::sampleLastConfig().value("client_priv_key").toString()));
        QVERIFY(!log.contains(url.mid(6, 40)));
    }

    // How the client tells, at start, whether the daemon is the one it came with.
    void daemonVersion()
    {
        using Verdict = DaemonVersionCheck::Verdict;
        const MacVpnServiceClientBackend backend;
        FakeServiceDaemon daemon;
        daemon.setReply("version", {{"ok", true}, {"version", "1.4.0"}});
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.0"), Verdict::Current);
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.1"), Verdict::Outdated);
        daemon.stop();
        QCOMPARE(DaemonVersionCheck::check(backend, "1.4.0"), Verdict::NotRunning);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceClientBackend)
#include "tst_macvpnserviceclientbackend.moc"
