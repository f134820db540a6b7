#include "vpnconfigfixture.h"
#include "vpnconfigparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject container(const QString &name, const QJsonObject &protocols)
{
    QJsonObject c = protocols;
    c.insert(QStringLiteral("container"), name);
    return c;
}

QJsonObject awgSettings(const QJsonObject &lastConfig = VpnConfigFixture::sampleLastConfig())
{
    return QJsonObject{
        {QStringLiteral("last_config"),
         QString::fromUtf8(QJsonDocument(lastConfig).toJson(QJsonDocument::Compact))}};
}

QJsonObject document(const QJsonArray &containers, const QString &defaultContainer = QString())
{
    return QJsonObject{{QStringLiteral("containers"), containers},
                       {QStringLiteral("defaultContainer"), defaultContainer},
                       {QStringLiteral("hostName"), QStringLiteral("vpn.example.net")},
                       {QStringLiteral("dns1"), QStringLiteral("1.1.1.1")},
                       {QStringLiteral("dns2"), QStringLiteral("8.8.8.8")}};
}

const QString Empty = QStringLiteral("Конфигурация соединения пустая");
const QString NotDecoded = QStringLiteral("Не удалось декодировать VPN-конфигурацию");
const QString NotUnpacked = QStringLiteral("Не удалось распаковать VPN-конфигурацию");
const QString BadFormat = QStringLiteral("VPN-конфигурация имеет неверный формат");
const QString NoContainers = QStringLiteral("В VPN-конфигурации нет контейнеров");
const QString NoContainer = QStringLiteral("Контейнер VPN-конфигурации не найден");
const QString NoProtocol = QStringLiteral("Протокол VPN-конфигурации не найден");
const QString NoSettings = QStringLiteral("Настройки протокола VPN-конфигурации не найдены");
const QString NoClientConfig = QStringLiteral("В VPN-конфигурации нет client-конфига");
const QString BadClientConfig = QStringLiteral("Client-конфиг VPN имеет неверный формат");

} // namespace

class TestVpnConfigParser : public QObject
{
    Q_OBJECT

private slots:
    void parsesCompleteConfiguration()
    {
        const QJsonObject doc = VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig());
        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(VpnConfigFixture::encode(doc));

        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.document, doc);
        QCOMPARE(result.config.rawConfig, doc);
        QCOMPARE(result.config.container, QStringLiteral("amnezia-awg"));
        QCOMPARE(result.config.defaultContainer, QStringLiteral("amnezia-awg"));
        QCOMPARE(result.config.protocolName, QStringLiteral("awg"));
        QCOMPARE(result.config.lastConfig, VpnConfigFixture::sampleLastConfig());
        QCOMPARE(result.config.hostName, QStringLiteral("198.51.100.10"));
        QCOMPARE(result.config.dns1, QStringLiteral("1.1.1.1"));
        QCOMPARE(result.config.dns2, QStringLiteral("1.0.0.1"));
        QVERIFY(result.config.protocolConfig.contains(QStringLiteral("port")));
    }

    void toleratesWrappingAndPadding_data()
    {
        QTest::addColumn<QString>("text");
        const QString encoded = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        const QString bare = encoded.mid(6);
        QTest::newRow("surrounding white space") << QStringLiteral("  \n") + encoded + "\t ";
        QTest::newRow("no prefix") << bare;
        QTest::newRow("padding and line breaks") << bare.left(20) + "\n" + bare.mid(20) + "==";
    }

    void toleratesWrappingAndPadding()
    {
        QFETCH(QString, text);
        const VpnConfigParseResult result = VpnConfigParser::parseConfig(text);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.config.protocolName, QStringLiteral("awg"));
    }

    void earlyFailuresLeaveEverythingEmpty_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        const QString encoded = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));

        QTest::newRow("empty") << QString() << Empty;
        QTest::newRow("white space only") << QStringLiteral(" \t\n ") << Empty;
        QTest::newRow("prefix only") << QStringLiteral("vpn://") << NotDecoded;
        QTest::newRow("nothing in the alphabet") << QStringLiteral("vpn://!!!$$$") << NotDecoded;
        QTest::newRow("too short to unpack") << QStringLiteral("vpn://AAAA") << NotUnpacked;
        // The capital prefix is not stripped: "VPN" joins the base64 text and breaks it.
        QTest::newRow("upper-case prefix")
            << QStringLiteral("VPN://") + encoded.mid(6) << NotUnpacked;
        QTest::newRow("json array") << VpnConfigFixture::encodeBytes("[1,2,3]") << BadFormat;
        QTest::newRow("broken json") << VpnConfigFixture::encodeBytes("{\"a\":") << BadFormat;
    }

    void earlyFailuresLeaveEverythingEmpty()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const VpnConfigParseResult result = VpnConfigParser::parseConfig(text);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, error);
        QVERIFY(result.document.isEmpty());
        QVERIFY(result.config.rawConfig.isEmpty());
        QVERIFY(result.config.hostName.isEmpty());
    }

    void standardBase64LosesCharacters()
    {
        // '+' and '/' are outside the URL-safe alphabet and are skipped, so a payload that
        // contains them can no longer be uncompressed.
        QByteArray json;
        QString standard;
        for (int i = 0; standard.isEmpty() || (!standard.contains('+') && !standard.contains('/'));
             ++i) {
            json =
                QJsonDocument(VpnConfigFixture::awgDocument(QJsonObject{{QStringLiteral("n"), i}}))
                    .toJson(QJsonDocument::Compact);
            standard = QString::fromLatin1(qCompress(json).toBase64());
        }
        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(QStringLiteral("vpn://") + standard);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, NotUnpacked);
    }

    void laterFailuresKeepWhatWasFilled_data()
    {
        QTest::addColumn<QJsonObject>("doc");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("protocolName");

        QTest::newRow("no containers key")
            << QJsonObject{{QStringLiteral("hostName"), QStringLiteral("vpn.example.net")},
                           {QStringLiteral("dns1"), QStringLiteral("1.1.1.1")},
                           {QStringLiteral("dns2"), QStringLiteral("8.8.8.8")}}
            << NoContainers << QString() << QString();
        QTest::newRow("containers not an array")
            << document(QJsonArray()).value(QStringLiteral("x")).toObject() << NoContainers
            << QString() << QString();
        QTest::newRow("only empty objects")
            << document(QJsonArray{QJsonObject(), 5, QStringLiteral("x")}) << NoContainer
            << QString() << QString();
        QTest::newRow("default container absent")
            << document(QJsonArray{container(QStringLiteral("amnezia-awg"),
                                             {{QStringLiteral("awg"), awgSettings()}})},
                        QStringLiteral("amnezia-awg2"))
            << NoContainer << QString() << QString();
        QTest::newRow("no protocol object")
            << document(QJsonArray{container(QStringLiteral("amnezia-xray"),
                                             {{QStringLiteral("note"), QStringLiteral("x")}})})
            << NoProtocol << QStringLiteral("amnezia-xray") << QString();
        QTest::newRow("awg candidate kept when its value is a string")
            << document(QJsonArray{container(QStringLiteral("amnezia-awg"),
                                             {{QStringLiteral("awg"), QStringLiteral("x")}})})
            << NoSettings << QStringLiteral("amnezia-awg") << QStringLiteral("awg");
        QTest::newRow("last_config a number")
            << document(QJsonArray{container(
                   QStringLiteral("amnezia-awg"),
                   {{QStringLiteral("awg"), QJsonObject{{QStringLiteral("last_config"), 5}}}})})
            << NoClientConfig << QStringLiteral("amnezia-awg") << QStringLiteral("awg");
        QTest::newRow("last_config not json")
            << document(QJsonArray{container(
                   QStringLiteral("amnezia-awg"),
                   {{QStringLiteral("awg"),
                     QJsonObject{{QStringLiteral("last_config"), QStringLiteral("{nope")}}}})})
            << BadClientConfig << QStringLiteral("amnezia-awg") << QStringLiteral("awg");
        QTest::newRow("last_config an array")
            << document(QJsonArray{container(
                   QStringLiteral("amnezia-awg"),
                   {{QStringLiteral("awg"),
                     QJsonObject{{QStringLiteral("last_config"), QStringLiteral("[1]")}}}})})
            << BadClientConfig << QStringLiteral("amnezia-awg") << QStringLiteral("awg");
    }

    void laterFailuresKeepWhatWasFilled()
    {
        QFETCH(QJsonObject, doc);
        QFETCH(QString, error);
        QFETCH(QString, container);
        QFETCH(QString, protocolName);

        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(VpnConfigFixture::encode(doc));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, error);
        QCOMPARE(result.document, doc);
        QCOMPARE(result.config.rawConfig, doc);
        QCOMPARE(result.config.hostName, doc.value(QStringLiteral("hostName")).toString());
        QCOMPARE(result.config.dns1, doc.value(QStringLiteral("dns1")).toString());
        QCOMPARE(result.config.container, container);
        QCOMPARE(result.config.protocolName, protocolName);
    }

    void containerSelection_data()
    {
        QTest::addColumn<QJsonObject>("doc");
        QTest::addColumn<QString>("container");

        const QJsonObject awg{{QStringLiteral("awg"), awgSettings()}};
        QTest::newRow("empty object skipped before the default")
            << document(QJsonArray{QJsonObject(), container(QStringLiteral("amnezia-awg"), awg)},
                        QStringLiteral("amnezia-awg"))
            << QStringLiteral("amnezia-awg");
        QTest::newRow("default picked among several")
            << document(QJsonArray{container(QStringLiteral("amnezia-awg"), awg),
                                   container(QStringLiteral("amnezia-awg2"), awg)},
                        QStringLiteral("amnezia-awg2"))
            << QStringLiteral("amnezia-awg2");
        QTest::newRow("no default: first non-empty whatever its name")
            << document(QJsonArray{QJsonObject(), container(QStringLiteral("zz-other"), awg),
                                   container(QStringLiteral("amnezia-awg"), awg)})
            << QStringLiteral("zz-other");
        QTest::newRow("default matched case-sensitively")
            << document(QJsonArray{container(QStringLiteral("Amnezia-AWG"), awg),
                                   container(QStringLiteral("amnezia-awg"), awg)},
                        QStringLiteral("amnezia-awg"))
            << QStringLiteral("amnezia-awg");
    }

    void containerSelection()
    {
        QFETCH(QJsonObject, doc);
        QFETCH(QString, container);
        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(VpnConfigFixture::encode(doc));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.config.container, container);
    }

    void protocolKeyDetection_data()
    {
        QTest::addColumn<QString>("containerName");
        QTest::addColumn<QJsonObject>("protocols");
        QTest::addColumn<QString>("protocolName");

        QTest::newRow("awg by name") << "amnezia-awg"
                                     << QJsonObject{{QStringLiteral("awg"), awgSettings()},
                                                    {QStringLiteral("aaa"), awgSettings()}}
                                     << "awg";
        QTest::newRow("wireguard by name")
            << "amnezia-wireguard"
            << QJsonObject{{QStringLiteral("wireguard"), awgSettings()},
                           {QStringLiteral("aaa"), awgSettings()}}
            << "wireguard";
        QTest::newRow("awg wins over wireguard in the name")
            << "wireguard-awg" << QJsonObject{{QStringLiteral("awg"), awgSettings()}} << "awg";
        QTest::newRow("other name: first object key in key order")
            << "amnezia-openvpn"
            << QJsonObject{{QStringLiteral("zeta"), awgSettings()},
                           {QStringLiteral("beta"), awgSettings()},
                           {QStringLiteral("alpha"), QStringLiteral("not an object")}}
            << "beta";
        QTest::newRow("awg name but settings elsewhere")
            << "amnezia-awg"
            << QJsonObject{{QStringLiteral("awg"), 1}, {QStringLiteral("other"), awgSettings()}}
            << "other";
        QTest::newRow("name matched case-sensitively")
            << "Amnezia-AWG" << QJsonObject{{QStringLiteral("x"), awgSettings()}} << "x";
    }

    void protocolKeyDetection()
    {
        QFETCH(QString, containerName);
        QFETCH(QJsonObject, protocols);
        QFETCH(QString, protocolName);
        const VpnConfigParseResult result = VpnConfigParser::parseConfig(
            VpnConfigFixture::encode(document(QJsonArray{container(containerName, protocols)})));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.config.protocolName, protocolName);
    }

    void hostNameFallsBackToClientConfig_data()
    {
        QTest::addColumn<QJsonValue>("documentHost");
        QTest::addColumn<QString>("expected");
        QTest::newRow("document wins")
            << QJsonValue(QStringLiteral("a.example.net")) << QStringLiteral("a.example.net");
        QTest::newRow("empty falls back") << QJsonValue(QString()) << QStringLiteral("203.0.113.9");
        QTest::newRow("missing falls back")
            << QJsonValue(QJsonValue::Undefined) << QStringLiteral("203.0.113.9");
        QTest::newRow("number falls back") << QJsonValue(42) << QStringLiteral("203.0.113.9");
    }

    void hostNameFallsBackToClientConfig()
    {
        QFETCH(QJsonValue, documentHost);
        QFETCH(QString, expected);
        QJsonObject lastConfig = VpnConfigFixture::sampleLastConfig();
        lastConfig.insert(QStringLiteral("hostName"), QStringLiteral("203.0.113.9"));
        QJsonObject doc = VpnConfigFixture::awgDocument(lastConfig);
        if (documentHost.isUndefined())
            doc.remove(QStringLiteral("hostName"));
        else
            doc.insert(QStringLiteral("hostName"), documentHost);

        const VpnConfigParseResult result =
            VpnConfigParser::parseConfig(VpnConfigFixture::encode(doc));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.config.hostName, expected);
    }

    void parsePeerConfigReadsConfigKey()
    {
        const QString encoded = VpnConfigFixture::encode(
            VpnConfigFixture::awgDocument(VpnConfigFixture::sampleLastConfig()));
        QVERIFY(VpnConfigParser::parsePeerConfig({{QStringLiteral("config"), encoded}}).ok);
        QCOMPARE(VpnConfigParser::parsePeerConfig({}).error, Empty);
        QCOMPARE(
            VpnConfigParser::parsePeerConfig({{QStringLiteral("config"), QVariantMap()}}).error,
            Empty);
    }
};

QTEST_GUILESS_MAIN(TestVpnConfigParser)
#include "tst_vpnconfigparser.moc"
