#include "testablemacvpnbackend.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Every signal of the backend in the order it arrived, as "name:argument".
class SignalLog : public QObject
{
public:
    explicit SignalLog(PlatformVpnBackend *backend)
    {
        connect(backend, &PlatformVpnBackend::statusChanged, this,
                [this](PlatformVpnBackend::Status status) {
                    entries.append(QStringLiteral("status:%1").arg(int(status)));
                });
        connect(backend, &PlatformVpnBackend::errorOccurred, this,
                [this](const QString &error) { entries.append(QStringLiteral("error:") + error); });
        connect(backend, &PlatformVpnBackend::connected, this,
                [this] { entries.append(QStringLiteral("connected")); });
        connect(backend, &PlatformVpnBackend::disconnected, this,
                [this] { entries.append(QStringLiteral("disconnected")); });
    }

    QStringList entries;
};

} // namespace

class TestMacVpnBackendState : public QObject
{
    Q_OBJECT

private slots:
    void freshBackendIsIdleAndChangedNothing()
    {
        TestableMacVpnBackend backend;
        QCOMPARE(backend.status(), PlatformVpnBackend::Disconnected);
        QCOMPARE(backend.lastError(), QString());
        QVERIFY(backend.commands.isEmpty());
        QCOMPARE(backend.lookups, 0);
        QCOMPARE(backend.tunnelProcess.state(), QProcess::NotRunning);
    }

    void setStatus_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("same status is silent")
            << int(PlatformVpnBackend::Disconnected) << int(PlatformVpnBackend::Disconnected)
            << QStringList();
        QTest::newRow("still connecting is silent")
            << int(PlatformVpnBackend::Connecting) << int(PlatformVpnBackend::Connecting)
            << QStringList();
        QTest::newRow("a change is announced")
            << int(PlatformVpnBackend::Connecting) << int(PlatformVpnBackend::Connected)
            << QStringList{"status:2"};
        QTest::newRow("straight back to connecting")
            << int(PlatformVpnBackend::Connected) << int(PlatformVpnBackend::Connecting)
            << QStringList{"status:1"};
    }

    void setStatus()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, expected);

        TestableMacVpnBackend backend;
        backend.setStatus(PlatformVpnBackend::Status(from));
        SignalLog log(&backend);
        backend.setStatus(PlatformVpnBackend::Status(to));
        QCOMPARE(log.entries, expected);
        QCOMPARE(int(backend.status()), to);
    }

    void setError_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("status");

        const QString failure = QStringLiteral("Не удалось применить WireGuard/AWG-конфигурацию");
        QTest::newRow("error while connecting: status first, then the text")
            << int(PlatformVpnBackend::Connecting) << failure
            << QStringList{"status:4", "error:" + failure} << int(PlatformVpnBackend::Error);
        QTest::newRow("second error: no status change, text still announced")
            << int(PlatformVpnBackend::Error) << failure << QStringList{"error:" + failure}
            << int(PlatformVpnBackend::Error);
        QTest::newRow("empty text clears silently")
            << int(PlatformVpnBackend::Connecting) << QString() << QStringList()
            << int(PlatformVpnBackend::Connecting);
        QTest::newRow("empty text keeps the error status")
            << int(PlatformVpnBackend::Error) << QString() << QStringList()
            << int(PlatformVpnBackend::Error);
    }

    void setError()
    {
        QFETCH(int, from);
        QFETCH(QString, error);
        QFETCH(QStringList, expected);
        QFETCH(int, status);

        TestableMacVpnBackend backend;
        QTest::ignoreMessage(QtWarningMsg, "[MacVpnBackend] error: \"earlier failure\"");
        backend.setError(QStringLiteral("earlier failure"));
        backend.setStatus(PlatformVpnBackend::Status(from));
        SignalLog log(&backend);
        if (!error.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable("[MacVpnBackend] error: \"" + error + '"'));
        backend.setError(error);
        QCOMPARE(log.entries, expected);
        QCOMPARE(backend.lastError(), error);
        QCOMPARE(int(backend.status()), status);
    }

    void statusChangeIsLogged()
    {
        TestableMacVpnBackend backend;
        QTest::ignoreMessage(QtInfoMsg,
                             "[MacVpnBackend] status changed PlatformVpnBackend::Connecting");
        backend.setStatus(PlatformVpnBackend::Connecting);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendState)
#include "tst_macvpnbackend_state.moc"
