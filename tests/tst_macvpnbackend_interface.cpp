#include "testablemacvpnbackend.h"
#include "vpnconfigfixture.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QStringList Ipv6{"/sbin/ifconfig", "utun3", "inet6", "fd58:baa6:dead::1",
                       "prefixlen",      "128",   "alias"};

QStringList ipv4(const QString &mtu)
{
    return {"/sbin/ifconfig", "utun3",           "inet", "10.8.1.2", "10.8.1.2",
            "netmask",        "255.255.255.255", "mtu",  mtu,        "up"};
}

ParsedVpnConfig sampleWith(const QString &key, const QJsonValue &value)
{
    ParsedVpnConfig config;
    config.lastConfig = VpnConfigFixture::sampleLastConfig();
    if (value.isUndefined())
        config.lastConfig.remove(key);
    else
        config.lastConfig.insert(key, value);
    return config;
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
    // The ifconfig argument lists, which failures end the step, and what is logged.
    void configureInterface_data()
    {
        QTest::addColumn<ParsedVpnConfig>("config");
        QTest::addColumn<QString>("failingFamily"); // the ifconfig call that fails, if any
        QTest::addColumn<QList<QStringList>>("commands");
        QTest::addColumn<QString>("error"); // empty: success

        const ParsedVpnConfig sample = sampleWith("client_ip", "10.8.1.2/32");
        QTest::newRow("prefix dropped, mtu text used")
            << sample << "" << QList<QStringList>{ipv4("1376"), Ipv6} << "";
        QTest::newRow("mtu not a string")
            << sampleWith("mtu", 1420) << "" << QList<QStringList>{ipv4("1280"), Ipv6} << "";
        QTest::newRow("no client_ip") << sampleWith("client_ip", QJsonValue::Undefined) << ""
                                      << QList<QStringList>() << "В конфигурации нет client_ip";
        QTest::newRow("IPv4 failure stops with the error output")
            << sample << "inet" << QList<QStringList>{ipv4("1376")}
            << "Не удалось настроить IPv4 интерфейса: ifconfig: ioctl (SIOCAIFADDR): File exists";
        QTest::newRow("IPv6 failure ignored")
            << sample << "inet6" << QList<QStringList>{ipv4("1376"), Ipv6} << "";
    }

    void configureInterface()
    {
        QFETCH(ParsedVpnConfig, config);
        QFETCH(QString, failingFamily);
        QFETCH(QList<QStringList>, commands);
        QFETCH(QString, error);
        TestableMacVpnBackend backend;
        backend.interfaceName = QStringLiteral("utun3");
        backend.responder = [&](const TestableMacVpnBackend::Command &command) {
            const bool fails = command.arguments.value(1) == failingFamily;
            return TestableMacVpnBackend::CommandResult{
                !fails, QString(), fails ? "ifconfig: ioctl (SIOCAIFADDR): File exists\n" : ""};
        };
        QSignalSpy errors(&backend, &MacVpnBackend::errorOccurred);
        loggedText.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectLog);
        const bool configured = backend.configureInterface(config);
        qInstallMessageHandler(previous);

        QCOMPARE(configured, error.isEmpty());
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(errors.count(), error.isEmpty() ? 0 : 1);
        QCOMPARE(backend.status(),
                 error.isEmpty() ? PlatformVpnBackend::Disconnected : PlatformVpnBackend::Error);
        QList<QStringList> ran;
        for (const TestableMacVpnBackend::Command &command : std::as_const(backend.commands))
            ran.append(QStringList{command.program} + command.arguments);
        QCOMPARE(ran, commands);
        // The configuration is logged with its secrets blanked.
        const QString log = loggedText.join(QLatin1Char('\n'));
        for (const char *secret : {"client_priv_key", "psk_key"}) {
            QVERIFY(log.contains(QStringLiteral("\"%1\":\"(hidden)\"").arg(secret)));
            QVERIFY(!log.contains(config.lastConfig.value(secret).toString()));
        }
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendInterface)
#include "tst_macvpnbackend_interface.moc"
