#include "vendorapiprocess.h"
#include "vendorapitestclient.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// tarvex-vendor-api as a program: how it starts, refuses to start, and keeps its data.
class TestVendorApiServerProgram : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void keepsItsStateAcrossRestarts()
    {
        VendorApiProcess program(QStringLiteral(TARVEX_VENDOR_API),
                                 QStringLiteral(TARVEX_VENDOR_API_SERVERS));
        const QString data = dir.filePath("restart");
        QVERIFY2(program.start(data), qPrintable(program.errorString()));
        qInfo("tarvex-vendor-api listened after %lld ms", program.startMs());
        QCOMPARE(program.rootUrl().host(), "127.0.0.1");
        QVERIFY(program.rootUrl().port() > 0);
        const QString email = QStringLiteral("restart@example.com");
        {
            VendorApiTestClient client(program.rootUrl());
            const QString token = client.registerAccount(email);
            QCOMPARE(
                client.api("POST", "/peers", {{"country_id", 1}, {"name", "Дом"}}, token).status,
                201);
        }
        program.stop();

        QVERIFY2(program.start(data), qPrintable(program.errorString()));
        VendorApiTestClient client(program.rootUrl());
        const QString token = client.signIn(email);
        QVERIFY(!token.isEmpty());
        QCOMPARE(client.api("GET", "/peers", {}, token).json.value("data").toArray().size(), 1);
        QCOMPARE(client.outbox(email).size(), 1);
    }

    void refusesBadStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("port not a number") << QStringList{"--port", "http"} << 2 << "bad arguments";
        QTest::newRow("port out of range")
            << QStringList{"--port", "65536"} << 2 << "bad arguments";
        QTest::newRow("missing fixture")
            << QStringList{"--servers", "/nonexistent.json"} << 1 << "/nonexistent.json";
        QTest::newRow("data folder impossible")
            << QStringList{"--data", "/proc/tarvex"} << 1 << "/proc/tarvex";
        QTest::newRow("port taken") << QStringList{"--port", "TAKEN"} << 1 << "cannot listen";
    }

    void refusesBadStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost));
        arguments.replaceInStrings("TAKEN", QString::number(occupant.serverPort()));
        if (!arguments.contains("--data"))
            arguments << "--data" << dir.filePath("refused");
        QProcess program;
        program.start(QStringLiteral(TARVEX_VENDOR_API), arguments);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), exitCode);
        const QString error = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(program.readAllStandardOutput().isEmpty());
    }
};

QTEST_MAIN(TestVendorApiServerProgram)
#include "tst_vendorapiserver_program.moc"
