#include "hostlookup.h"

#include <QElapsedTimer>
#include <QTest>

class TestHostLookup : public QObject
{
    Q_OBJECT

private slots:
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
        QElapsedTimer timer;
        timer.start();
        const QList<QHostAddress> found =
            HostLookup::resolve(host, timeLeft ? QDeadlineTimer(5000) : QDeadlineTimer(0), &error);
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(found.contains(QHostAddress(address)), !address.isEmpty());
        QCOMPARE(error.isEmpty(), !address.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHostLookup)
#include "tst_hostlookup.moc"
