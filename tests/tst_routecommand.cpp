#include "routecommand.h"

#include <QTest>

class TestRouteCommand : public QObject
{
    Q_OBJECT

private slots:
    // macOS's full answer is read in the backend's tests, from the simulated Mac.
    void gatewayOf_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("gateway");

        QTest::newRow("ipv6 gateway with scope") << "    gateway: fe80::1%en0\n"
                                                 << "fe80::1%en0";
        QTest::newRow("no gateway line") << "route: not in table\n" << QString();
    }

    void gatewayOf()
    {
        QFETCH(QString, output);
        QFETCH(QString, gateway);
        QCOMPARE(RouteCommand::gatewayOf(output), gateway);
    }
};

QTEST_GUILESS_MAIN(TestRouteCommand)
#include "tst_routecommand.moc"
