#include "fakeservicedaemon.h"
#include "macvpnserviceclientbackend.h"
#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"
#include "vpnserviceprotocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(FakeServiceDaemon::Answer)

namespace {

const QString Unavailable = QStringLiteral("VPN-сервис недоступен: ");
const QString StaleSocketText =
    QStringLiteral("socket сервиса есть, но сервис не запущен. Перезапустите сервис через sudo");

// The daemon's minute-long reply wait, cut down so a silent daemon costs little.
class QuickBackend : public MacVpnServiceClientBackend
{
public:
    using MacVpnServiceClientBackend::MacVpnServiceClientBackend;

protected:
    int replyTimeoutMs() const override { return 300; }
};

enum Operation { ConnectWithPeer, ConnectEmptyPeer, ConnectConfigOnly, Disconnect, Status };

ParsedVpnConfig sampleConfig()
{
    return VpnConfigParser::parseConfig(VpnConfigFixture::encode(VpnConfigFixture::awgDocument(
                                            VpnConfigFixture::sampleLastConfig())))
        .config;
}

QVariantMap samplePeer()
{
    return QVariantMap{
        {QStringLiteral("id"), 7},
        {QStringLiteral("name"), QStringLiteral("Frankfurt")},
        {QStringLiteral("protocol"), QStringLiteral("amnezia-v1")},
        {QStringLiteral("splitTunnel"),
         QVariantMap{{QStringLiteral("enabled"), true},
                     {QStringLiteral("mode"), 1},
                     {QStringLiteral("sites"), QStringList{QStringLiteral("a.example")}}}},
    };
}

// Runs one operation; the result is refreshStatus's, or true for the others.
bool run(PlatformVpnBackend &backend, Operation operation, QVariantMap *peerOut = nullptr)
{
    switch (operation) {
    case ConnectWithPeer:
        backend.connectVpn(sampleConfig(), samplePeer());
        return true;
    case ConnectEmptyPeer:
        backend.connectVpn(sampleConfig(), QVariantMap());
        return true;
    case ConnectConfigOnly:
        backend.connectVpn(sampleConfig());
        return true;
    case Disconnect:
        backend.disconnectVpn();
        return true;
    case Status:
        return backend.refreshStatus(peerOut);
    }
    return false;
}

QString commandOf(Operation operation)
{
    switch (operation) {
    case Disconnect:
        return QStringLiteral("disconnect");
    case Status:
        return QStringLiteral("status");
    default:
        return QStringLiteral("connect");
    }
}

// A socket file nobody listens on, as a crashed daemon leaves behind.
bool makeStaleSocket(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

struct Spies
{
    explicit Spies(PlatformVpnBackend &backend)
        : connected(&backend, &PlatformVpnBackend::connected)
        , disconnected(&backend, &PlatformVpnBackend::disconnected)
        , errors(&backend, &PlatformVpnBackend::errorOccurred)
        , statuses(&backend, &PlatformVpnBackend::statusChanged)
    {}

    QList<PlatformVpnBackend::Status> statusList() const
    {
        QList<PlatformVpnBackend::Status> list;
        for (const QList<QVariant> &call : statuses)
            list.append(call.at(0).value<PlatformVpnBackend::Status>());
        return list;
    }

    QSignalSpy connected;
    QSignalSpy disconnected;
    QSignalSpy errors;
    QSignalSpy statuses;
};

} // namespace

class TestMacVpnServiceClientBackend : public QObject
{
    Q_OBJECT

private slots:
    void requestObjects_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QJsonObject>("expected");

        const QJsonObject config = VpnServiceProtocol::parsedConfigToJson(sampleConfig());
        const QJsonObject connect{{QStringLiteral("command"), QStringLiteral("connect")},
                                  {QStringLiteral("config"), config}};
        QJsonObject withPeer = connect;
        withPeer.insert(QStringLiteral("peer"),
                        QJsonObject{
                            {QStringLiteral("id"), 7},
                            {QStringLiteral("name"), "Frankfurt"},
                            {QStringLiteral("protocol"), "amnezia-v1"},
                            {QStringLiteral("splitTunnel"),
                             QJsonObject{
                                 {QStringLiteral("enabled"), true},
                                 {QStringLiteral("mode"), 1},
                                 {QStringLiteral("sites"), QJsonArray{"a.example"}},
                             }},
                        });

        QTest::newRow("connect with peer") << int(ConnectWithPeer) << withPeer;
        QTest::newRow("connect, empty peer: no peer key") << int(ConnectEmptyPeer) << connect;
        QTest::newRow("connect with the config alone") << int(ConnectConfigOnly) << connect;
        QTest::newRow("disconnect")
            << int(Disconnect) << QJsonObject{{QStringLiteral("command"), "disconnect"}};
        QTest::newRow("status") << int(Status)
                                << QJsonObject{{QStringLiteral("command"), "status"}};
    }

    void requestObjects()
    {
        QFETCH(int, operation);
        QFETCH(QJsonObject, expected);

        FakeServiceDaemon daemon;
        QVERIFY(daemon.isListening());
        MacVpnServiceClientBackend backend;
        run(backend, Operation(operation));

        QCOMPARE(daemon.requests(), QList<QJsonObject>{expected});
        // One compact line on a connection of its own.
        QCOMPARE(daemon.rawRequests().value(0),
                 QJsonDocument(expected).toJson(QJsonDocument::Compact));
        QCOMPARE(daemon.connectionCount(), 1);
    }

    void everyRequestOpensItsOwnConnection()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("connect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        daemon.setAnswer(QStringLiteral("disconnect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("disconnected")));

        MacVpnServiceClientBackend backend;
        backend.connectVpn(sampleConfig(), samplePeer());
        QVERIFY(backend.refreshStatus(nullptr));
        backend.disconnectVpn();

        QCOMPARE(daemon.commands(), QStringList({"connect", "status", "disconnect"}));
        QCOMPARE(daemon.connectionCount(), 3);
        QCOMPARE(backend.status(), PlatformVpnBackend::Disconnected);
    }

    void statusReplyMapping_data()
    {
        QTest::addColumn<QJsonValue>("status");
        QTest::addColumn<PlatformVpnBackend::Status>("expected");

        QTest::newRow("connecting") << QJsonValue("connecting") << PlatformVpnBackend::Connecting;
        QTest::newRow("connected") << QJsonValue("connected") << PlatformVpnBackend::Connected;
        QTest::newRow("disconnecting")
            << QJsonValue("disconnecting") << PlatformVpnBackend::Disconnecting;
        QTest::newRow("error") << QJsonValue("error") << PlatformVpnBackend::Error;
        QTest::newRow("disconnected")
            << QJsonValue("disconnected") << PlatformVpnBackend::Disconnected;
        QTest::newRow("unknown") << QJsonValue("unknown") << PlatformVpnBackend::Disconnected;
        QTest::newRow("other case") << QJsonValue("Connected") << PlatformVpnBackend::Disconnected;
        QTest::newRow("empty") << QJsonValue("") << PlatformVpnBackend::Disconnected;
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined)
                                 << PlatformVpnBackend::Disconnected;
        QTest::newRow("number") << QJsonValue(2) << PlatformVpnBackend::Disconnected;
    }

    void statusReplyMapping()
    {
        QFETCH(QJsonValue, status);
        QFETCH(PlatformVpnBackend::Status, expected);

        FakeServiceDaemon daemon;
        QJsonObject reply{{QStringLiteral("ok"), true}};
        if (!status.isUndefined())
            reply.insert(QStringLiteral("status"), status);
        daemon.setAnswer(QStringLiteral("status"), FakeServiceDaemon::reply(reply));

        MacVpnServiceClientBackend backend;
        Spies spies(backend);
        QVERIFY(backend.refreshStatus(nullptr));

        QCOMPARE(backend.status(), expected);
        QCOMPARE(spies.connected.count(), 0);
        QCOMPARE(spies.disconnected.count(), 0);
        QCOMPARE(spies.errors.count(), 0);
    }

    void successOnlyForJsonTrue_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QJsonValue>("ok");
        QTest::addColumn<bool>("succeeds");

        const QList<QPair<const char *, QJsonValue>> oks{
            {"true", QJsonValue(true)},
            {"false", QJsonValue(false)},
            {"missing", QJsonValue(QJsonValue::Undefined)},
            {"number 1", QJsonValue(1)},
            {"string true", QJsonValue("true")},
        };
        for (const int operation : {int(ConnectWithPeer), int(Disconnect), int(Status)}) {
            for (const auto &ok : oks) {
                QTest::addRow("%s, ok %s", qPrintable(commandOf(Operation(operation))), ok.first)
                    << operation << ok.second << (ok.second.isBool() && ok.second.toBool());
            }
        }
    }

    void successOnlyForJsonTrue()
    {
        QFETCH(int, operation);
        QFETCH(QJsonValue, ok);
        QFETCH(bool, succeeds);

        FakeServiceDaemon daemon;
        QJsonObject reply{{QStringLiteral("status"), QStringLiteral("connected")},
                          {QStringLiteral("error"), QStringLiteral("daemon says no")}};
        if (!ok.isUndefined())
            reply.insert(QStringLiteral("ok"), ok);
        daemon.setAnswer(commandOf(Operation(operation)), FakeServiceDaemon::reply(reply));

        MacVpnServiceClientBackend backend;
        Spies spies(backend);
        const bool result = run(backend, Operation(operation));

        if (!succeeds) {
            QCOMPARE(backend.status(), PlatformVpnBackend::Error);
            QCOMPARE(backend.lastError(), QStringLiteral("daemon says no"));
            QCOMPARE(spies.errors.count(), 1);
            QCOMPARE(spies.errors.at(0).at(0).toString(), QStringLiteral("daemon says no"));
            QCOMPARE(result, operation != Status);
            QCOMPARE(spies.connected.count() + spies.disconnected.count(), 0);
            return;
        }
        QVERIFY(result);
        QVERIFY(backend.lastError().isEmpty());
        QCOMPARE(spies.errors.count(), 0);
        QCOMPARE(spies.connected.count(), operation == ConnectWithPeer ? 1 : 0);
        QCOMPARE(spies.disconnected.count(), operation == Disconnect ? 1 : 0);
        const auto expected = operation == Disconnect ? PlatformVpnBackend::Disconnected
                                                      : PlatformVpnBackend::Connected;
        QCOMPARE(backend.status(), expected);
    }

    void failureReplyTexts_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QJsonValue>("error");
        QTest::addColumn<QString>("expected");

        const QString connectText = QStringLiteral("Не удалось подключиться");
        const QString disconnectText = QStringLiteral("Не удалось отключиться");
        const QString statusText = QStringLiteral("Не удалось получить состояние VPN");

        QTest::newRow("connect, daemon's text")
            << int(ConnectWithPeer) << QJsonValue("Нет utun") << QStringLiteral("Нет utun");
        QTest::newRow("connect, missing")
            << int(ConnectWithPeer) << QJsonValue(QJsonValue::Undefined) << connectText;
        QTest::newRow("connect, empty text")
            << int(ConnectWithPeer) << QJsonValue("") << connectText;
        QTest::newRow("connect, not a string")
            << int(ConnectWithPeer) << QJsonValue(5) << connectText;
        QTest::newRow("disconnect, empty text")
            << int(Disconnect) << QJsonValue("") << disconnectText;
        QTest::newRow("disconnect, missing")
            << int(Disconnect) << QJsonValue(QJsonValue::Undefined) << disconnectText;
        QTest::newRow("status, empty text") << int(Status) << QJsonValue("") << statusText;
        QTest::newRow("status, not a string")
            << int(Status) << QJsonValue(QJsonArray{"x"}) << statusText;
    }

    void failureReplyTexts()
    {
        QFETCH(int, operation);
        QFETCH(QJsonValue, error);
        QFETCH(QString, expected);

        FakeServiceDaemon daemon;
        QJsonObject reply{{QStringLiteral("ok"), false},
                          {QStringLiteral("status"), QStringLiteral("disconnected")}};
        if (!error.isUndefined())
            reply.insert(QStringLiteral("error"), error);
        daemon.setAnswer(commandOf(Operation(operation)), FakeServiceDaemon::reply(reply));

        MacVpnServiceClientBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        run(backend, Operation(operation));

        // Never left in Connecting/Disconnecting without a word.
        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(backend.lastError(), expected);
        QCOMPARE(errors.count(), 1);
    }

    void statusErrorReplyKeepsDaemonReason()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::reply(QJsonObject{
                             {"ok", true}, {"status", "error"}, {"error", "Туннель остановлен"}}));
        MacVpnServiceClientBackend backend;
        Spies spies(backend);

        QVERIFY(backend.refreshStatus(nullptr));
        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(backend.lastError(), QStringLiteral("Туннель остановлен"));
        // The query itself succeeded: no errorOccurred.
        QCOMPARE(spies.errors.count(), 0);
        QCOMPARE(spies.statusList(), QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Error});

        // An "error" text next to any other status is not a reason for anything.
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::reply(QJsonObject{
                             {"ok", true}, {"status", "connected"}, {"error", "old text"}}));
        QVERIFY(backend.refreshStatus(nullptr));
        QCOMPARE(backend.status(), PlatformVpnBackend::Connected);
        QVERIFY(backend.lastError().isEmpty());
    }

    void peerFilledOnlyFromObject_data()
    {
        QTest::addColumn<QJsonValue>("peer");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("object") << QJsonValue(QJsonObject{{"id", 3}, {"name", "Riga"}})
                                << QVariantMap{{"id", 3}, {"name", "Riga"}};
        QTest::newRow("array") << QJsonValue(QJsonArray{1, 2}) << QVariantMap();
        QTest::newRow("string") << QJsonValue("Riga") << QVariantMap();
        QTest::newRow("null") << QJsonValue(QJsonValue::Null) << QVariantMap();
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QVariantMap();
    }

    void peerFilledOnlyFromObject()
    {
        QFETCH(QJsonValue, peer);
        QFETCH(QVariantMap, expected);

        FakeServiceDaemon daemon;
        QJsonObject reply = FakeServiceDaemon::okReply(QStringLiteral("connected"));
        if (!peer.isUndefined())
            reply.insert(QStringLiteral("peer"), peer);
        daemon.setAnswer(QStringLiteral("status"), FakeServiceDaemon::reply(reply));

        MacVpnServiceClientBackend backend;
        QVariantMap filled{{QStringLiteral("left over"), true}};
        QVERIFY(backend.refreshStatus(&filled));
        QCOMPARE(filled, expected);
    }

    void statusSignalsOnlyOnChange()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        daemon.setAnswer(QStringLiteral("connect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        MacVpnServiceClientBackend backend;
        Spies spies(backend);

        QVERIFY(backend.refreshStatus(nullptr));
        QVERIFY(backend.refreshStatus(nullptr));
        QCOMPARE(spies.statusList(),
                 QList<PlatformVpnBackend::Status>{PlatformVpnBackend::Connected});

        backend.connectVpn(sampleConfig());
        backend.connectVpn(sampleConfig());
        QCOMPARE(spies.statusList(),
                 QList<PlatformVpnBackend::Status>(
                     {PlatformVpnBackend::Connected, PlatformVpnBackend::Connecting,
                      PlatformVpnBackend::Connected, PlatformVpnBackend::Connecting,
                      PlatformVpnBackend::Connected}));
        QCOMPARE(spies.connected.count(), 2);

        // The same error twice is reported twice: each failure is news.
        daemon.setAnswer(QStringLiteral("connect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::failReply("error", "Сбой")));
        backend.connectVpn(sampleConfig());
        backend.connectVpn(sampleConfig());
        QCOMPARE(spies.errors.count(), 2);
    }

    void daemonAbsent_data()
    {
        QTest::addColumn<int>("operation");
        QTest::newRow("connect") << int(ConnectWithPeer);
        QTest::newRow("disconnect") << int(Disconnect);
    }

    void daemonAbsent()
    {
        QFETCH(int, operation);
        QTemporaryDir dir;
        qputenv("TARVEX_SERVICE_SOCKET", dir.filePath(QStringLiteral("none.sock")).toUtf8());

        MacVpnServiceClientBackend backend;
        QSignalSpy errors(&backend, &PlatformVpnBackend::errorOccurred);
        run(backend, Operation(operation));
        qunsetenv("TARVEX_SERVICE_SOCKET");

        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QVERIFY2(backend.lastError().startsWith(Unavailable), qPrintable(backend.lastError()));
        QVERIFY(backend.lastError().size() > Unavailable.size());
        QVERIFY(!backend.lastError().contains(QLatin1String("sudo")));
        QCOMPARE(errors.count(), 1);
    }

    void staleSocketFileAsksForRestart_data() { daemonAbsent_data(); }

    void staleSocketFileAsksForRestart()
    {
        QFETCH(int, operation);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("service.sock"));
        QVERIFY(makeStaleSocket(path));
        QVERIFY(QFile::exists(path));
        qputenv("TARVEX_SERVICE_SOCKET", path.toUtf8());

        MacVpnServiceClientBackend backend;
        run(backend, Operation(operation));
        qunsetenv("TARVEX_SERVICE_SOCKET");

        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(backend.lastError(), Unavailable + StaleSocketText);
    }

    void unreachableStatusQueryChangesNothing()
    {
        auto daemon = std::make_unique<FakeServiceDaemon>();
        daemon->setAnswer(QStringLiteral("connect"),
                          FakeServiceDaemon::reply(FakeServiceDaemon::okReply("connected")));
        MacVpnServiceClientBackend backend;
        backend.connectVpn(sampleConfig());
        QCOMPARE(backend.status(), PlatformVpnBackend::Connected);

        daemon.reset();
        QTemporaryDir dir;
        qputenv("TARVEX_SERVICE_SOCKET", dir.filePath(QStringLiteral("none.sock")).toUtf8());
        Spies spies(backend);
        QVariantMap peer{{QStringLiteral("left over"), 1}};
        const bool result = backend.refreshStatus(&peer);
        qunsetenv("TARVEX_SERVICE_SOCKET");

        QVERIFY(!result);
        QCOMPARE(backend.status(), PlatformVpnBackend::Connected);
        QVERIFY(backend.lastError().isEmpty());
        QVERIFY(peer.isEmpty());
        QCOMPARE(spies.statuses.count() + spies.errors.count(), 0);
    }

    void brokenReplies_data()
    {
        QTest::addColumn<FakeServiceDaemon::Answer>("answer");
        QTest::addColumn<QString>("transportError");

        const auto parserText = [](const QByteArray &line) {
            QJsonParseError error;
            QJsonDocument::fromJson(line, &error);
            return error.errorString();
        };
        QTest::newRow("silent daemon") << FakeServiceDaemon::silent() << QStringLiteral("timeout");
        QTest::newRow("closed without reply")
            << FakeServiceDaemon::closeEarly() << QStringLiteral("timeout");
        QTest::newRow("no line feed")
            << FakeServiceDaemon::raw(R"({"ok":true,"status":"connected"})")
            << QStringLiteral("timeout");
        QTest::newRow("not JSON") << FakeServiceDaemon::raw("ok\n") << parserText("ok");
        QTest::newRow("JSON array") << FakeServiceDaemon::raw("[true]\n") << parserText("[true]");
    }

    void brokenReplies()
    {
        QFETCH(FakeServiceDaemon::Answer, answer);
        QFETCH(QString, transportError);

        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("connect"), answer);
        QuickBackend backend;
        QElapsedTimer timer;
        timer.start();
        backend.connectVpn(sampleConfig());

        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(backend.lastError(), Unavailable + transportError);
        QVERIFY(timer.elapsed() < 3000);
    }

    void logsNeverCarryKeys()
    {
        FakeServiceDaemon daemon;
        QVariantMap peer = samplePeer();
        const QString vpnUrl = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        peer.insert(QStringLiteral("config"), vpnUrl);
        daemon.setAnswer(QStringLiteral("connect"),
                         FakeServiceDaemon::reply(FakeServiceDaemon::okReply(
                             "connected", QJsonObject::fromVariantMap(peer))));

        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &,
                                      const QString &message) { messages.append(message); });
        MacVpnServiceClientBackend backend;
        backend.connectVpn(sampleConfig(), peer);
        qInstallMessageHandler(previous);

        QCOMPARE(backend.status(), PlatformVpnBackend::Connected);
        const QString privateKey =
            VpnConfigFixture::sampleLastConfig().value("client_priv_key").toString();
        const QString logText = messages.join(QLatin1Char('\n'));
        QVERIFY(logText.contains(QLatin1String("request =")));
        QVERIFY(logText.contains(QLatin1String("Frankfurt"))); // the rest stays readable
        QVERIFY(!logText.contains(privateKey));
        QVERIFY(!logText.contains(vpnUrl.mid(6, 40)));
    }

    void replyInPiecesIsReassembled()
    {
        FakeServiceDaemon daemon;
        daemon.setAnswer(QStringLiteral("status"),
                         FakeServiceDaemon::replyInPieces(FakeServiceDaemon::okReply(
                             "connected", QJsonObject{{"name", "Tallinn"}})));
        MacVpnServiceClientBackend backend;
        QVariantMap peer;
        QVERIFY(backend.refreshStatus(&peer));
        QCOMPARE(backend.status(), PlatformVpnBackend::Connected);
        QCOMPARE(peer.value(QStringLiteral("name")).toString(), QStringLiteral("Tallinn"));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnServiceClientBackend)
#include "tst_macvpnserviceclientbackend.moc"
