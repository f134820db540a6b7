#include "testablemacvpnbackend.h"

#include <QTest>

namespace {

// Every status (as its number) and error text the backend signalled, in order.
class SignalLog : public QObject
{
public:
    explicit SignalLog(PlatformVpnBackend *backend)
    {
        connect(backend, &PlatformVpnBackend::statusChanged, this,
                [this](PlatformVpnBackend::Status status) { entries << QString::number(status); });
        connect(backend, &PlatformVpnBackend::errorOccurred, this,
                [this](const QString &error) { entries << error; });
    }

    QStringList entries;
};

} // namespace

class TestMacVpnBackendState : public QObject
{
    Q_OBJECT

private slots:
    void setStatusAndSetErrorSignals()
    {
        TestableMacVpnBackend backend;
        SignalLog log(&backend);
        backend.setStatus(PlatformVpnBackend::Connecting);
        backend.setStatus(PlatformVpnBackend::Connecting); // no change, no signal
        backend.setError(QStringLiteral("first"));         // the status first, then the text
        backend.setError(QStringLiteral("second"));        // already Error: only the text
        QCOMPARE(log.entries, QStringList({"1", "4", "first", "second"}));

        backend.setError(QString()); // clears the text silently and keeps the status
        QCOMPARE(log.entries.size(), 4);
        QCOMPARE(backend.status(), PlatformVpnBackend::Error);
        QCOMPARE(backend.lastError(), QString());
    }

    void connectOutsideTheSandboxFailsWithoutTouchingTheSystem()
    {
#ifdef Q_OS_MACOS
        QSKIP("macOS always allows the backend to change the system");
#endif
        qunsetenv("TARVEX_SANDBOX");
        TestableMacVpnBackend backend;
        backend.allowSystemChanges = false;
        SignalLog log(&backend);
        backend.connectVpn(ParsedVpnConfig());

        const QString refusal =
            QStringLiteral("Изменение сетевых настроек разрешено только на "
                           "macOS или в песочнице разработки (TARVEX_SANDBOX=1)");
        QCOMPARE(log.entries, QStringList({"1", "4", refusal}));
        QVERIFY(backend.commands.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendState)
#include "tst_macvpnbackend_state.moc"
