#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using Command = TestableMacVpnBackend::Command;
using CommandResult = TestableMacVpnBackend::CommandResult;

const QString Ifconfig = QStringLiteral("/sbin/ifconfig");
const QStringList Ipv6Arguments{"utun3", "inet6", "fd58:baa6:dead::1", "prefixlen", "128", "alias"};

QStringList ipv4Arguments(const QString &address, const QString &mtu)
{
    return {"utun3", "inet", address, address, "netmask", "255.255.255.255", "mtu", mtu, "up"};
}

ParsedVpnConfig configWith(const QJsonObject &lastConfig)
{
    ParsedVpnConfig config;
    config.lastConfig = lastConfig;
    return config;
}

QJsonObject with(QJsonObject object, const QString &key, const QJsonValue &value)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

QStringList loggedText;

void collectLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    loggedText.append(message);
}

} // namespace

class TestMacVpnBackendInterface : public QObject
{
    Q_OBJECT

private slots:
    void clientIpv4_data()
    {
        QTest::addColumn<QJsonValue>("clientIp");
        QTest::addColumn<QString>("address");

        QTest::newRow("bare address") << QJsonValue("10.8.1.2") << "10.8.1.2";
        QTest::newRow("with prefix") << QJsonValue("10.8.1.2/24") << "10.8.1.2";
        QTest::newRow("first slash only") << QJsonValue("10.8.1.2/32/7") << "10.8.1.2";
        QTest::newRow("not trimmed") << QJsonValue(" 10.8.1.2 /32") << " 10.8.1.2 ";
        QTest::newRow("not checked") << QJsonValue("fd00::2/64") << "fd00::2";
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << "";
        QTest::newRow("number") << QJsonValue(10) << "";
        QTest::newRow("only a prefix") << QJsonValue("/32") << "";
    }

    void clientIpv4()
    {
        QFETCH(QJsonValue, clientIp);
        QFETCH(QString, address);
        TestableMacVpnBackend backend;
        const QJsonObject lastConfig =
            with(VpnConfigFixture::sampleLastConfig(), "client_ip", clientIp);
        QCOMPARE(backend.clientIpv4(configWith(lastConfig)), address);
    }

    void commandLines_data()
    {
        QTest::addColumn<QJsonObject>("lastConfig");
        QTest::addColumn<QStringList>("ipv4");

        const QJsonObject sample = VpnConfigFixture::sampleLastConfig();
        QTest::newRow("prefix ignored, mtu text used")
            << sample << ipv4Arguments("10.8.1.2", "1376");
        QTest::newRow("bare address")
            << with(sample, "client_ip", "10.8.1.2") << ipv4Arguments("10.8.1.2", "1376");
        QTest::newRow("mtu missing")
            << with(sample, "mtu", QJsonValue::Undefined) << ipv4Arguments("10.8.1.2", "1280");
        QTest::newRow("mtu as number")
            << with(sample, "mtu", 1420) << ipv4Arguments("10.8.1.2", "1280");
    }

    void commandLines()
    {
        QFETCH(QJsonObject, lastConfig);
        QFETCH(QStringList, ipv4);
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        QSignalSpy errors(&backend, &MacVpnBackend::errorOccurred);

        QVERIFY(backend.configureInterface(configWith(lastConfig)));
        QCOMPARE(backend.commands.size(), 2);
        QCOMPARE(backend.commands.at(0).program, Ifconfig);
        QCOMPARE(backend.commands.at(0).arguments, ipv4);
        QCOMPARE(backend.commands.at(1).program, Ifconfig);
        QCOMPARE(backend.commands.at(1).arguments, Ipv6Arguments);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(backend.lastError(), QString());
    }

    void noClientIp_data()
    {
        QTest::addColumn<QJsonValue>("clientIp");
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("empty") << QJsonValue("");
        QTest::newRow("not a string") << QJsonValue(QJsonArray{"10.8.1.2"});
    }

    void noClientIp()
    {
        QFETCH(QJsonValue, clientIp);
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        QSignalSpy errors(&backend, &MacVpnBackend::errorOccurred);
        const QJsonObject lastConfig =
            with(VpnConfigFixture::sampleLastConfig(), "client_ip", clientIp);

        QVERIFY(!backend.configureInterface(configWith(lastConfig)));
        QCOMPARE(backend.lastError(), QStringLiteral("В конфигурации нет client_ip"));
        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(errors.count(), 1);
        QVERIFY(backend.commands.isEmpty());
    }

    void ipv4Failure_data()
    {
        QTest::addColumn<QString>("standardError");
        QTest::addColumn<QString>("error");

        QTest::newRow("stderr trimmed")
            << "ifconfig: ioctl (SIOCAIFADDR): File exists\n"
            << "Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): File exists";
        QTest::newRow("empty stderr") << ""
                                      << "Не удалось настроить IPv4 интерфейса: ";
    }

    void ipv4Failure()
    {
        QFETCH(QString, standardError);
        QFETCH(QString, error);
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        backend.responder = [&](const Command &) {
            return CommandResult{false, QStringLiteral("ignored"), standardError};
        };
        QSignalSpy errors(&backend, &MacVpnBackend::errorOccurred);

        QVERIFY(!backend.configureInterface(configWith(VpnConfigFixture::sampleLastConfig())));
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(backend.commands.size(), 1); // no IPv6 attempt after the failure
    }

    void ipv6FailureIgnored()
    {
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        backend.responder = [](const Command &command) {
            const bool ipv6 = command.arguments.contains(QStringLiteral("inet6"));
            return CommandResult{!ipv6, QString(),
                                 ipv6 ? QStringLiteral("IPv6 is off") : QString()};
        };
        QSignalSpy errors(&backend, &MacVpnBackend::errorOccurred);

        QVERIFY(backend.configureInterface(configWith(VpnConfigFixture::sampleLastConfig())));
        QCOMPARE(backend.commands.size(), 2);
        QCOMPARE(backend.lastError(), QString());
        QCOMPARE(backend.status(), PlatformVpnBackend::Disconnected);
        QCOMPARE(errors.count(), 0);
    }

    void secretsStayOutOfTheLog()
    {
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        loggedText.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectLog);
        backend.configureInterface(configWith(VpnConfigFixture::sampleLastConfig()));
        qInstallMessageHandler(previous);

        const QString log = loggedText.join(QLatin1Char('\n'));
        QVERIFY(log.contains(QStringLiteral("[MacVpnBackend] interface lastConfig =")));
        QVERIFY(log.contains(QStringLiteral("\"client_ip\":\"10.8.1.2/32\"")));
        QVERIFY(!log.contains(
            VpnConfigFixture::sampleLastConfig().value("client_priv_key").toString()));
        QVERIFY(!log.contains(VpnConfigFixture::sampleLastConfig().value("psk_key").toString()));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendInterface)
#include "tst_macvpnbackend_interface.moc"
