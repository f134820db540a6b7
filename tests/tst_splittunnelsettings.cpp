#include "splittunnelsettings.h"

#include <QTest>

class TestSplitTunnelSettings : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::newRow("only selected") << settings(true, 1) << true << 1;
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

QTEST_GUILESS_MAIN(TestSplitTunnelSettings)
#include "tst_splittunnelsettings.moc"
