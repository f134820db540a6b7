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

QString sampleUrl()
{
    return VpnConfigFixture::encode(
        VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
}

// StaleFile: what a crashed daemon leaves, a file where its socket was that nobody listens on
// (the kernel refuses a connection to a plain file as to a dead socket).
enum DaemonState { Running, Stopped, StaleFile };

} // namespace

class TestMacVpnServiceClientBackend : public QObject
{
    Q_OBJECT

private slots:
    void replies_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("fails");       // errorOccurred; refreshStatus false
        QTest::addColumn<QVariantMap>("peer"); // what a status fills in

        const QString no = QStringLiteral("daemon says no");
        const auto row = [](const char *name, const char *command, const QJsonObject &reply,
                            Status status, const QString &error, bool fails,
                            const QVariantMap &peer = {}) {
            QTest::newRow(name) << command << reply << status << error << fails << peer;
        };
        QJsonObject arrayPeer = FSD::okReply("connected");
        arrayPeer.insert("peer", QJsonArray{1, 2});

        // Success is "ok": true and nothing else that might read as true.
        row("connect, ok 1", "connect", {{"ok", 1}, {"error", no}}, Status::Error, no, true);
        // A failure without a usable reason gets the operation's own text.
        row("connect, no ok, no error", "connect", {}, Status::Error, "Не удалось подключиться",
            true);
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
    }

    void replies()
    {
        QFETCH(QString, command);
        QFETCH(QJsonObject, reply);
        QFETCH(Status, status);
        QFETCH(QString, error);
        QFETCH(bool, fails);
        QFETCH(QVariantMap, peer);

        FakeServiceDaemon daemon;
        daemon.setReply(command, reply);
        MacVpnServiceClientBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        QVariantMap filled{{QStringLiteral("left over"), true}};
        bool result = true;
        // Twice: each failure is news, even the same one again.
        for (int i = 0; i < 2; ++i) {
            if (command == QLatin1String("status"))
                result = backend.refreshStatus(&filled);
            else
                backend.connectVpn(VpnConfigFixture::sampleConfig());
        }

        QCOMPARE(backend.status(), status);
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(result, !fails || command != "status");
        QCOMPARE(errors.count(), fails ? 2 : 0);
        if (fails)
            QCOMPARE(errors.at(1).at(0).toString(), error);
        if (command == QLatin1String("status"))
            QCOMPARE(filled, peer);
    }

    // Each ends at once with a reason a person understands; only the silent daemon is
    // waited for (here 0.3 s instead of a minute). A killed daemon is e2e_attacks' scenario.
    void transportFailures_data()
    {
        QTest::addColumn<int>("daemonState");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("transportError"); // %1: the socket's path

        // No socket file: the daemon is not running, said so, and no talk of sudo.
        QTest::newRow("no socket file")
            << int(Stopped) << Answer{} << "сервис не запущен: сокета %1 нет";
        QTest::newRow("stale socket file")
            << int(StaleFile) << Answer{}
            << "socket сервиса есть, но сервис не запущен. Перезапустите сервис через sudo";
        QTest::newRow("silent daemon")
            << int(Running) << Answer{Answer::Silent, {}} << "сервис не ответил за 0.3 с";
        QTest::newRow("closed without reply") << int(Running) << Answer{Answer::Reply, {}}
                                              << "сервис закрыл соединение, не ответив на запрос";
        QTest::newRow("not JSON") << int(Running) << Answer{Answer::Reply, "ok\n"}
                                  << "ответ сервиса не удалось прочитать";
    }

    void transportFailures()
    {
        QFETCH(int, daemonState);
        QFETCH(Answer, answer);
        QFETCH(QString, transportError);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("connect"), answer);
        const QString path = qEnvironmentVariable("TARVEX_SERVICE_SOCKET");
        if (daemonState != Running)
            daemon.stop();
        if (daemonState == StaleFile)
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QuickBackend backend;
        QElapsedTimer timer;
        timer.start();
        backend.connectVpn(VpnConfigFixture::sampleConfig());

        QCOMPARE(backend.status(), Status::Error);
        QCOMPARE(backend.lastError(), Unavailable + transportError.arg(path));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    void logsNeverCarryKeys()
    {
        FakeServiceDaemon daemon;
        const QVariantMap peer{{"id", 7}, {"config", sampleUrl()}};
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
        QVERIFY(!log.contains(sampleUrl().mid(6, 40)));
    }

    // How the client tells, at start, whether the daemon is the one it came with.
    void daemonVersion_data()
    {
        QTest::addColumn<QJsonObject>("reply"); // empty: no daemon
        QTest::addColumn<DaemonVersionCheck::Verdict>("verdict");

        using Verdict = DaemonVersionCheck::Verdict;
        const auto version = [](const QString &version) {
            return QJsonObject{{"ok", true}, {"version", version}};
        };
        QTest::newRow("same version") << version("1.4.0") << Verdict::Current;
        QTest::newRow("other version") << version("1.3.9") << Verdict::Outdated;
        QTest::newRow("no daemon") << QJsonObject() << Verdict::NotRunning;
    }

    void daemonVersion()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(DaemonVersionCheck::Verdict, verdict);

        FakeServiceDaemon daemon;
        daemon.setReply("version", reply);
        if (reply.isEmpty())
            daemon.stop();
        QCOMPARE(DaemonVersionCheck::check(MacVpnServiceClientBackend(), "1.4.0"), verdict);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceClientBackend)
#include "tst_macvpnserviceclientbackend.moc"
