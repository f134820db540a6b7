#include "configvaluevalidator.h"
#include "hostlookup.h"
#include "secretmasker.h"
#include "splittunnelsettings.h"
#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// AmneziaWG settings whose client configuration names a host of its own.
const QJsonObject Settings{{"last_config", "{\"hostName\":\"203.0.113.9\"}"}, {"port", "51820"}};

QJsonObject container(const QString &name, QJsonObject protocols = {{"awg", Settings}})
{
    protocols.insert("container", name);
    return protocols;
}

QJsonObject document(const QJsonArray &containers, const QString &defaultContainer = {},
                     const QJsonValue &hostName = "vpn.example.net")
{
    return {{"containers", containers},
            {"defaultContainer", defaultContainer},
            {"hostName", hostName},
            {"dns1", "1.1.1.1"},
            {"dns2", "1.0.0.1"}};
}

const QString Empty = QStringLiteral("Конфигурация соединения пустая");
const QString NotUnpacked = QStringLiteral("Не удалось распаковать VPN-конфигурацию");
const QString BadFormat = QStringLiteral("VPN-конфигурация имеет неверный формат");

} // namespace

class TestVpnConfig : public QObject
{
    Q_OBJECT

private slots:
    void decodingSteps_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error"); // empty: parsed

        const auto row = [](const char *name, const QString &text, const QString &error) {
            QTest::newRow(name) << text << error;
        };
        const QString url = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        const QString bare = url.mid(6);
        row("surrounding white space", "  \n" + url + "\t ", {});
        row("no prefix", bare, {});
        row("padding and line breaks", bare.left(20) + "\n" + bare.mid(20) + "==", {});
        row("white space only", " \t\n ", Empty);
        row("prefix only", "vpn://", "Не удалось декодировать VPN-конфигурацию");
        row("too short to unpack", "vpn://AAAA", NotUnpacked);
        // The first four bytes claim the uncompressed size; they are a hint, never trusted.
        const auto claimingSize = [&bare](const char size[4]) {
            const QByteArray compressed =
                QByteArray::fromBase64(bare.toLatin1(), QByteArray::Base64UrlEncoding);
            return "vpn://" + QString::fromLatin1((QByteArray(size, 4) + compressed.mid(4))
                                                      .toBase64(QByteArray::Base64UrlEncoding));
        };
        row("size claimed too small", claimingSize("\0\0\0\1"), {});
        row("size claimed 4 GiB", claimingSize("\xff\xff\xff\xff"), NotUnpacked);
        row("document over 1 MiB",
            VpnConfigFixture::encodeBytes("{\"pad\":\"" + QByteArray(1024 * 1024, 'x') + "\"}"),
            NotUnpacked);
        row("json array", VpnConfigFixture::encodeBytes("[1,2,3]"), BadFormat);
        row("broken json", VpnConfigFixture::encodeBytes("{\"a\":"), BadFormat);
    }

    void decodingSteps()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const VpnConfigParseResult result = VpnConfigParser::parseConfig(text);
        QCOMPARE(result.error, error);
        QCOMPARE(result.ok, error.isEmpty());
        QCOMPARE(result.document, error.isEmpty() ? VpnConfigFixture::awgDocument(
                                                        VpnConfigFixture::sampleLastConfig())
                                                  : QJsonObject());
    }

    void documentSteps_data()
    {
        QTest::addColumn<QJsonObject>("doc");
        QTest::addColumn<QString>("error"); // empty: parsed
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("protocolName");

        const auto row = [](const char *name, const QJsonObject &doc, const QString &error,
                            const QString &container = {}, const QString &protocolName = {}) {
            QTest::newRow(name) << doc << error << container << protocolName;
        };
        const QString noContainer = QStringLiteral("Контейнер VPN-конфигурации не найден");
        const QString badClientConfig = QStringLiteral("Client-конфиг VPN имеет неверный формат");
        const QString awg = QStringLiteral("amnezia-awg");

        // A failure keeps what was filled in before it.
        row("no containers", document({}), "В VPN-конфигурации нет контейнеров");
        row("default container absent", document({container(awg)}, "amnezia-awg2"), noContainer);
        row("no protocol object", document({container("amnezia-xray", {{"note", "x"}})}),
            "Протокол VPN-конфигурации не найден", "amnezia-xray");
        row("awg candidate kept when no object qualifies",
            document({container(awg, {{"awg", "x"}})}),
            "Настройки протокола VPN-конфигурации не найдены", awg, "awg");
        row("last_config a number",
            document({container(awg, {{"awg", QJsonObject{{"last_config", 5}}}})}),
            "В VPN-конфигурации нет client-конфига", awg, "awg");
        row("last_config not json",
            document({container(awg, {{"awg", QJsonObject{{"last_config", "{nope"}}}})}),
            badClientConfig, awg, "awg");

        row("default picked among several",
            document({container(awg), container("amnezia-awg2")}, "amnezia-awg2"), {},
            "amnezia-awg2", "awg");
        row("no default: first non-empty whatever its name",
            document({QJsonObject(), container("zz-other"), container(awg)}), {}, "zz-other",
            "awg");
        row("awg by name, before other keys",
            document({container(awg, {{"awg", Settings}, {"aaa", Settings}})}), {}, awg, "awg");
        row("wireguard by name",
            document({container("amnezia-wireguard", {{"wireguard", Settings}, {"a", Settings}})}),
            {}, "amnezia-wireguard", "wireguard");
        row("other name: first object key in key order",
            document({container("openvpn", {{"zeta", Settings}, {"beta", Settings}, {"a", 1}})}),
            {}, "openvpn", "beta");
        row("awg name, settings under another key",
            document({container(awg, {{"awg", 1}, {"other", Settings}})}), {}, awg, "other");
        row("empty host name: the client config's", document({container(awg)}, {}, ""), {}, awg,
            "awg");
    }

    void documentSteps()
    {
        QFETCH(QJsonObject, doc);
        QFETCH(QString, error);
        QFETCH(QString, container);
        QFETCH(QString, protocolName);

        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(VpnConfigFixture::encode(doc));
        QCOMPARE(result.error, error);
        QCOMPARE(result.ok, error.isEmpty());
        QCOMPARE(result.document, doc);
        const ParsedVpnConfig &config = result.config;
        QCOMPARE(config.rawConfig, doc);
        QCOMPARE(config.defaultContainer, doc.value("defaultContainer").toString());
        QCOMPARE(config.dns1 + ' ' + config.dns2, QStringLiteral("1.1.1.1 1.0.0.1"));
        QCOMPARE(config.container, container);
        QCOMPARE(config.protocolName, protocolName);
        const QString documentHost = doc.value("hostName").toString();
        QCOMPARE(config.hostName,
                 documentHost.isEmpty() && result.ok ? "203.0.113.9" : documentHost);
        if (result.ok) {
            QCOMPARE(config.protocolConfig, Settings);
            QCOMPARE(config.lastConfig, QJsonObject({{"hostName", "203.0.113.9"}}));
        }
    }

    // Log lines are compact JSON, so the line breaks of a wg-quick text appear as "\n".
    void masking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");

        const QString keys = R"({"client_priv_key":"a2V5MQ==","psk_key":"a2V5Mg==","port":51820})";
        const QString masked = R"({"client_priv_key":"***","psk_key":"***","port":51820})";
        // The client configuration also travels as JSON text inside a JSON string.
        const auto inString = [](const QString &json) {
            return QString::fromUtf8(
                QJsonDocument(QJsonObject{{"lastConfigRaw", json}}).toJson(QJsonDocument::Compact));
        };
        QTest::newRow("json values") << keys << masked;
        QTest::newRow("json text inside a string") << inString(keys) << inString(masked);
        QTest::newRow("wg-quick lines, public key kept")
            << R"({"config":"PrivateKey = a2V5MQ==\nPublicKey = cHVi\nPresharedKey = a2V5Mg=="})"
            << R"({"config":"PrivateKey = ***\nPublicKey = cHVi\nPresharedKey = ***"})";
        QTest::newRow("vpn url") << R"({"config":"vpn://AAAAeJy_rV-1x","id":3})"
                                 << R"({"config":"vpn://***","id":3})";
        // The tunnel's UAPI request, in the daemon's own log.
        QTest::newRow("uapi request")
            << "set=1\nprivate_key=60da\npublic_key=dc59\npreshared_key=999d\nendpoint=a:1"
            << "set=1\nprivate_key=***\npublic_key=dc59\npreshared_key=***\nendpoint=a:1";
        QTest::newRow("truncated request") << "{\"command\":\"connect\",\"client_priv_key\":\"a2V5"
                                           << "{\"command\":\"connect\",\"client_priv_key\":\"***";
    }

    void masking()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(SecretMasker::mask(text), masked);
    }

    // Every value that reaches a command line, in the form its command expects; nothing
    // that starts with "-" passes any rule.
    void values_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");

        const auto rows = [](const char *rule, const QStringList &accepted,
                             const QStringList &refused) {
            for (const QString &text : accepted + refused)
                QTest::addRow("%s \"%s\"", rule, qPrintable(text))
                    << QString::fromLatin1(rule) << text << accepted.contains(text);
        };
        // At most fifteen characters.
        rows("interface", {"utun0", "utun12345678901"},
             {"utun123456789012", "utun", "en0", "-utun3", "utun3\n"});
        // A leading zero is octal to some parsers; "10.8.1" a shorthand.
        rows("ipv4", {"255.255.255.255"},
             {"256.1.1.1", "010.8.0.1", "10.8.1", " 10.8.0.1", "-10.8.0.1", "10.8.0.1/32", "::1"});
        // A scope is no server address; "Empty" is networksetup's word for "none".
        rows("ip", {"2606:4700:4700::1111", "::ffff:192.0.2.1"},
             {"fe80::1%en0", "Empty", "-::1", "::1\n", "dns.example"});
        rows("mtu", {"576", "9000"}, {"575", "9001", "-1280", "1280 up", ""});
    }

    void values()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        using V = ConfigValueValidator;
        QCOMPARE(rule == "interface" ? V::isInterfaceName(text)
                 : rule == "ipv4"    ? V::isIpv4Address(text)
                 : rule == "ip"      ? V::isIpAddress(text)
                                     : V::isMtu(text),
                 accepted);
    }

    // What the backend's step checks pass on: the refusals are the connect sequence's
    // (tst_macvpnbackend's connection, whose "no client_ip" row also shows an empty
    // client_ip passing, and "MTU a number" a number MTU of any size), these are the values
    // that must still get through.
    void checkAccepts_data()
    {
        QTest::addColumn<QString>("dns1");
        QTest::addColumn<int>("splitEntries");

        QTest::newRow("most split entries") << "10.8.0.1" << 256;
        QTest::newRow("blank dns, skipped later") << " " << 0;
    }

    void checkAccepts()
    {
        QFETCH(QString, dns1);
        QFETCH(int, splitEntries);
        ParsedVpnConfig config;
        config.dns1 = dns1;
        config.dns2 = QStringLiteral("2606:4700:4700::1111");
        config.lastConfig = {{"mtu", "1376"}};
        QCOMPARE(ConfigValueValidator::check(config, "10.8.0.5", "198.51.100.10", splitEntries),
                 QString());
    }

    // Only answers that need no name server: the tests run without a network. The
    // silent-name-server case runs in the sandbox (e2e_attacks).
    void resolve_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("timeLeft");
        QTest::addColumn<QString>("address"); // one of the answers; empty: the lookup fails

        QTest::newRow("address literal") << "192.0.2.7" << true << "192.0.2.7";
        QTest::newRow("hosts file") << "localhost" << true << "127.0.0.1";
        QTest::newRow("deadline passed") << "localhost" << false << "";
        QTest::newRow("not a name") << "a..b" << true << "";
    }

    void resolve()
    {
        QFETCH(QString, host);
        QFETCH(bool, timeLeft);
        QFETCH(QString, address);

        QString error;
        const QList<QHostAddress> found =
            HostLookup::resolve(host, timeLeft ? QDeadlineTimer(5000) : QDeadlineTimer(0), &error);
        QCOMPARE(found.contains(QHostAddress(address)), !address.isEmpty());
        QCOMPARE(error.isEmpty(), !address.isEmpty());
    }

    // Afterwards either the mode is one of the two, or split is off with mode Off; the
    // entries pass through untouched, and missing keys count as false, 0 and none. (What the
    // daemon makes of a peer the interface sent is quick_splittunnel's
    // test_daemonReadsTheConnectionConfig.)
    void fromPeer_data()
    {
        QTest::addColumn<QVariant>("split");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("mode");

        const auto settings = [](bool enabled, const QVariant &mode) {
            return QVariant(
                QVariantMap{{"enabled", enabled},
                            {"mode", mode},
                            {"entries", QVariantList{QVariantMap{{"value", "a.example"}}}}});
        };
        QTest::newRow("all except, mode from JSON") << settings(true, 2.0) << true << 2;
        QTest::newRow("mode 0 switches off") << settings(true, 0) << false << 0;
        QTest::newRow("mode 3 switches off") << settings(true, 3) << false << 0;
        QTest::newRow("disabled keeps its mode") << settings(false, 2) << false << 2;
        QTest::newRow("not a map") << QVariant("on") << false << 0;
    }

    void fromPeer()
    {
        QFETCH(QVariant, split);
        QFETCH(bool, enabled);
        QFETCH(int, mode);
        const SplitTunnelSettings settings =
            SplitTunnelSettings::fromPeer({{"splitTunnel", split}});
        QCOMPARE(settings.enabled, enabled);
        QCOMPARE(int(settings.mode), mode);
        QCOMPARE(settings.entries, split.toMap().value("entries").toList());
    }
};

QTEST_GUILESS_MAIN(TestVpnConfig)
#include "tst_vpnconfig.moc"
