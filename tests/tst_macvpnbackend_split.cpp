#include "testablemacvpnbackend.h"

#include <QTest>

// How entries turn into routes (literals, resolved names, stored fallbacks, duplicates,
// IPv4 only for exclusions) is tested through configureRoutes in the routes test.
class TestMacVpnBackendSplit : public QObject
{
    Q_OBJECT

private slots:
    // Afterwards either the mode is 1 or 2, or split is off with mode 0; the entries
    // pass through untouched.
    void readingSettings_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QVariant>("mode");
        QTest::addColumn<bool>("expectedEnabled");
        QTest::addColumn<int>("expectedMode");

        QTest::newRow("all except, mode from JSON") << true << QVariant(2.0) << true << 2;
        QTest::newRow("mode 3 switches off") << true << QVariant(3) << false << 0;
        QTest::newRow("disabled keeps its mode") << false << QVariant(2) << false << 2;
    }

    void readingSettings()
    {
        QFETCH(bool, enabled);
        QFETCH(QVariant, mode);
        QFETCH(bool, expectedEnabled);
        QFETCH(int, expectedMode);
        const QVariantList entries{QVariantMap{{"value", "a.example"}, {"type", 1}}};
        const QVariantMap split{{"enabled", enabled}, {"mode", mode}, {"entries", entries}};

        TestableMacVpnBackend backend;
        const auto settings = backend.splitTunnelFromPeer({{"splitTunnel", split}});
        QCOMPARE(settings.enabled, expectedEnabled);
        QCOMPARE(settings.mode, expectedMode);
        QCOMPARE(settings.entries, entries);
    }

    // Missing keys count as false, 0 and no entries.
    void peerWithoutSplitMapIsOff()
    {
        TestableMacVpnBackend backend;
        const auto settings = backend.splitTunnelFromPeer({{"splitTunnel", "on"}});
        QVERIFY(!settings.enabled && settings.mode == 0 && settings.entries.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendSplit)
#include "tst_macvpnbackend_split.moc"
