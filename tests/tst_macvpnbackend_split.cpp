#include "testablemacvpnbackend.h"

#include <QTest>

namespace {

using Backend = TestableMacVpnBackend;

QVariantMap entry(const QVariant &value, const QVariant &ip = QVariant())
{
    return {{QStringLiteral("value"), value}, {QStringLiteral("ip"), ip}};
}

QVariantMap peerWith(const QVariant &splitTunnel)
{
    return {{QStringLiteral("name"), QStringLiteral("peer")},
            {QStringLiteral("splitTunnel"), splitTunnel}};
}

QVariantMap splitMap(const QVariant &enabled, const QVariant &mode,
                     const QVariantList &entries = QVariantList())
{
    QVariantMap map{{QStringLiteral("entries"), entries}};
    if (enabled.isValid())
        map.insert(QStringLiteral("enabled"), enabled);
    if (mode.isValid())
        map.insert(QStringLiteral("mode"), mode);
    return map;
}

// Two IPv4 addresses and an IPv6 one, the IPv6 one in the middle of the answer.
const QList<QHostAddress> MixedAnswer{QHostAddress(QStringLiteral("93.184.216.34")),
                                      QHostAddress(QStringLiteral("2606:2800:220:1::1")),
                                      QHostAddress(QStringLiteral("93.184.216.35"))};

} // namespace

class TestMacVpnBackendSplit : public QObject
{
    Q_OBJECT

private slots:
    void readingSettingsKeepsTheInvariant_data()
    {
        QTest::addColumn<QVariantMap>("peer");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("entryCount");

        const QVariantList two{entry("a.example"), entry("10.0.0.0/8")};
        QTest::newRow("no key") << QVariantMap() << false << 0 << 0;
        QTest::newRow("not a map") << peerWith(QStringLiteral("on")) << false << 0 << 0;
        QTest::newRow("only selected") << peerWith(splitMap(true, 1, two)) << true << 1 << 2;
        QTest::newRow("all except") << peerWith(splitMap(true, 2, two)) << true << 2 << 2;
        QTest::newRow("mode 0 switches off") << peerWith(splitMap(true, 0, two)) << false << 0 << 2;
        QTest::newRow("mode 3 switches off") << peerWith(splitMap(true, 3, two)) << false << 0 << 2;
        QTest::newRow("negative mode") << peerWith(splitMap(true, -1)) << false << 0 << 0;
        QTest::newRow("mode missing") << peerWith(splitMap(true, QVariant())) << false << 0 << 0;
        QTest::newRow("disabled keeps its mode")
            << peerWith(splitMap(false, 2, two)) << false << 2 << 2;
        QTest::newRow("enabled missing") << peerWith(splitMap(QVariant(), 1)) << false << 1 << 0;
        QTest::newRow("mode from JSON number") << peerWith(splitMap(true, 1.0)) << true << 1 << 0;
    }

    void readingSettingsKeepsTheInvariant()
    {
        QFETCH(QVariantMap, peer);
        QFETCH(bool, enabled);
        QFETCH(int, mode);
        QFETCH(int, entryCount);
        Backend backend;
        const auto settings = backend.splitTunnelFromPeer(peer);
        QCOMPARE(settings.enabled, enabled);
        QCOMPARE(settings.mode, mode);
        QCOMPARE(settings.entries.size(), entryCount);
    }

    void resolvingOneEntry_data()
    {
        QTest::addColumn<QVariantMap>("entry");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("lookups");
        QTest::addColumn<bool>("warned");

        QTest::newRow("ipv4 network, no lookup")
            << entry("10.1.2.0/24") << QStringList{"10.1.2.0/24"} << 0 << false;
        QTest::newRow("ipv6 address, no lookup")
            << entry("2001:db8::5") << QStringList{"2001:db8::5"} << 0 << false;
        QTest::newRow("literal is trimmed")
            << entry("  1.2.3.4 ") << QStringList{"1.2.3.4"} << 0 << false;
        QTest::newRow("host name in resolver order")
            << entry("mixed.example")
            << QStringList{"93.184.216.34", "2606:2800:220:1::1", "93.184.216.35"} << 1 << false;
        QTest::newRow("repeated answers once")
            << entry("repeats.example") << QStringList{"198.51.100.1", "198.51.100.2"} << 1
            << false;
        QTest::newRow("resolved answer beats stored ip")
            << entry("mixed.example", "203.0.113.5")
            << QStringList{"93.184.216.34", "2606:2800:220:1::1", "93.184.216.35"} << 1 << false;
        QTest::newRow("stored ip as fallback")
            << entry("gone.example", " 203.0.113.5 ") << QStringList{"203.0.113.5"} << 1 << false;
        QTest::newRow("stored network as fallback") << entry("gone.example", "203.0.113.0/24")
                                                    << QStringList{"203.0.113.0/24"} << 1 << false;
        QTest::newRow("empty answer uses stored ip")
            << entry("empty.example", "203.0.113.5") << QStringList{"203.0.113.5"} << 1 << false;
        QTest::newRow("unusable stored ip")
            << entry("gone.example", "not-an-ip") << QStringList() << 1 << true;
        QTest::newRow("no stored ip") << entry("gone.example") << QStringList() << 1 << true;
        QTest::newRow("bad prefix is a host name")
            << entry("10.0.0.0/33") << QStringList() << 1 << true;
        QTest::newRow("nothing entered") << QVariantMap() << QStringList() << 0 << true;
    }

    void resolvingOneEntry()
    {
        QFETCH(QVariantMap, entry);
        QFETCH(QStringList, expected);
        QFETCH(int, lookups);
        QFETCH(bool, warned);
        Backend backend;
        backend.hosts.insert("mixed.example", MixedAnswer);
        backend.hosts.insert("repeats.example",
                             {QHostAddress("198.51.100.1"), QHostAddress("198.51.100.2"),
                              QHostAddress("198.51.100.1")});
        backend.hosts.insert("empty.example", {});
        if (warned) {
            const QString name = entry.value("value").toString().trimmed();
            QTest::ignoreMessage(
                QtWarningMsg,
                qPrintable("[MacVpnBackend] split tunnel host not resolved \"" + name + "\""));
        }
        QCOMPARE(backend.resolvedSplitTunnelRoutes(entry), expected);
        QCOMPARE(backend.lookups, lookups);
        QVERIFY(backend.commands.isEmpty());
    }

    void allEntriesWithoutDuplicates_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("only selected keeps both families")
            << 1
            << QStringList{"93.184.216.34", "2606:2800:220:1::1", "93.184.216.35", "10.0.0.0/8",
                           "fd00::/8"};
        QTest::newRow("all except keeps ipv4 only")
            << 2 << QStringList{"93.184.216.34", "93.184.216.35", "10.0.0.0/8"};
    }

    void allEntriesWithoutDuplicates()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, expected);
        Backend backend;
        backend.hosts.insert("mixed.example", MixedAnswer);
        backend.splitSettings.enabled = true;
        backend.splitSettings.mode = mode;
        // The client's store also writes "type" and "applications"; neither matters here.
        backend.splitSettings.entries = {
            entry("mixed.example"),
            QStringLiteral("not a map"),
            entry("10.0.0.0/8"),
            entry("93.184.216.35"),
            QVariantMap{{"value", "fd00::/8"}, {"type", 1}, {"applications", QVariantList()}},
            entry("10.0.0.0/8")};
        QTest::ignoreMessage(QtWarningMsg, "[MacVpnBackend] split tunnel host not resolved \"\"");
        QCOMPARE(backend.splitTunnelRoutes(), expected);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendSplit)
#include "tst_macvpnbackend_split.moc"
