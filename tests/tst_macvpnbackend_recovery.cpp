#include "hostsfileeditor.h"
#include "macsimulator.h"
#include "recoveryjournal.h"
#include "simulatedmac.h"
#include "testablemacvpnbackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace {

const QString Server = QStringLiteral("198.51.100.10");

void run(const SimulatedMac &mac, const QString &program, const QStringList &arguments)
{
    MacSimulator::run(program, arguments, mac.stateDirectory());
}

} // namespace

// A daemon that died while connected left its changes and its journal; the next one
// undoes them before it serves anyone.
class TestMacVpnBackendRecovery : public QObject
{
    Q_OBJECT

private slots:
    // The tunnel program is stopped only when its pid still is one; a damaged journal is
    // undone as far as it reads and kept aside.
    void leftoversAreUndone_data()
    {
        QTest::addColumn<QString>("programName"); // what runs under the recorded pid
        QTest::addColumn<bool>("damaged");
        QTest::newRow("tunnel program runs") << "amneziawg-go" << false;
        QTest::newRow("pid reused") << "launchd" << false;
        QTest::newRow("damaged") << "amneziawg-go" << true;
    }

    void leftoversAreUndone()
    {
        QFETCH(QString, programName);
        QFETCH(bool, damaged);
        SimulatedMac mac;
        const QString before = mac.dump();
        QVERIFY(QFile::link("/bin/sleep", mac.path(programName)));
        QProcess program;
        program.start(mac.path(programName), {"30"});
        QVERIFY(program.waitForStarted());

        // What the dead daemon did, recorded as it did it.
        RecoveryJournal journal;
        QVERIFY(journal.setTunnel("/Applications/Tarvex.app/Contents/MacOS/amneziawg-go",
                                  program.processId()));
        for (const RecoveryJournal::Route &route : {RecoveryJournal::Route{"inet", Server, "-host"},
                                                    {"inet", "0.0.0.0/1", "-net"},
                                                    {"inet6", "::/1", "-net"}}) {
            QVERIFY(journal.addRoute(route));
            run(mac, "/sbin/route",
                {"-n", "add", "-" + route.family, route.type, route.destination, "-interface",
                 "utun1"});
        }
        QVERIFY(journal.addDnsServers("Wi-Fi", {"192.168.1.1"}));
        QVERIFY(journal.addDnsServers("Thunderbolt Bridge", {}));
        run(mac, "/usr/sbin/networksetup", {"-setdnsservers", "Wi-Fi", "10.8.0.1"});
        run(mac, "/usr/sbin/networksetup", {"-setdnsservers", "Thunderbolt Bridge", "10.8.0.1"});
        QVERIFY(journal.setHostsBlock());
        QFile hosts(mac.hostsFile());
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write(
            HostsFileEditor::pin(SimulatedMac::DefaultHosts, "api.tarvex.test", {"198.51.100.7"})
                .content);
        hosts.close();
        if (damaged)
            QVERIFY(QFile::resize(mac.journalFile(), QFileInfo(mac.journalFile()).size() - 3));
        QVERIFY(mac.dump() != before);

        TestableMacVpnBackend backend(mac);
        backend.setTimeouts(TestableMacVpnBackend::shortTimeouts());
        backend.recoverFromJournal();
        QCOMPARE(program.waitForFinished(1000), programName == "amneziawg-go");
        QCOMPARE(mac.dump(), before);
        QCOMPARE(mac.hosts(), QByteArray(SimulatedMac::DefaultHosts));
        QCOMPARE(mac.commands().filter("-setdnsservers Wi-Fi").last(),
                 "/usr/sbin/networksetup -setdnsservers Wi-Fi 192.168.1.1");
        QVERIFY(!QFile::exists(mac.journalFile()));
        QCOMPARE(QDir(mac.path("journal")).entryList({"recovery-journal.unreadable-*"}).size(),
                 damaged ? 1 : 0);
        program.kill();
        program.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendRecovery)
#include "tst_macvpnbackend_recovery.moc"
