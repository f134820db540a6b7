#include "recoveryjournal.h"
#include "testablemacvpnbackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Contents = RecoveryJournal::Contents;

// Everything a full-tunnel connection records, with a service name that JSON has to
// escape.
Contents fullContents()
{
    Contents contents;
    contents.tunnelProgram = QStringLiteral("/Applications/Tarvex.app/Contents/MacOS/amneziawg-go");
    contents.tunnelPid = 4242;
    contents.routes = {{"inet", "198.51.100.10", "-host"},
                       {"inet", "0.0.0.0/1", "-net"},
                       {"inet6", "::/1", "-net"}};
    contents.hostsBlock = true;
    contents.dnsServers = {{"Wi-Fi", {"192.168.1.1"}},
                           {"USB \"LAN\"\t\u00e9\n", {}},
                           {"Ethernet", {"9.9.9.9", "149.112.112.112"}}};
    return contents;
}

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

class TestRecoveryJournal : public QObject
{
    Q_OBJECT

private slots:
    // Cut anywhere, the text still gives back exactly its whole records before the cut,
    // and only the untouched text reads as complete.
    void cutShortKeepsEveryWholeRecord()
    {
        const QByteArray text = RecoveryJournal::serialize(fullContents());
        Contents read;
        QCOMPARE(RecoveryJournal::parse(text, &read), RecoveryJournal::State::Complete);
        QCOMPARE(read, fullContents());

        const qsizetype headerEnd = text.indexOf('\n') + 1;
        for (qsizetype length = 0; length < text.size(); ++length) {
            const QByteArray cut = text.left(length);
            QCOMPARE(RecoveryJournal::parse(cut, &read), RecoveryJournal::State::Damaged);
            const QByteArray whole = cut.left(cut.lastIndexOf('\n') + 1);
            if (whole.size() < headerEnd)
                QVERIFY(read.isEmpty());
            else
                QVERIFY2(RecoveryJournal::serialize(read).startsWith(whole), cut.constData());
        }
    }

    void damagedText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("routes");
        const QByteArray header = R"({"journal":"tarvex-recovery-journal","version":1})"
                                  "\n";
        const QByteArray route =
            R"({"route":{"family":"inet","destination":"1.2.3.4","type":"-host"}})"
            "\n";
        QTest::newRow("other version")
            << QByteArray(header).replace("1}", "2}") + route + "{\"end\":1}\n"
            << 0;
        QTest::newRow("garbage between records")
            << header + route + "\x01\xff}\n" + route + "{\"end\":2}\n"
            << 2;
        QTest::newRow("unknown record") << header + route + "{\"mdns\":1}\n{\"end\":1}\n" << 1;
        QTest::newRow("count does not match") << header + route + "{\"end\":2}\n" << 1;
        QTest::newRow("record after the end") << header + "{\"end\":0}\n" + route << 0;
    }

    void damagedText()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, routes);
        Contents read;
        QCOMPARE(RecoveryJournal::parse(text, &read), RecoveryJournal::State::Damaged);
        QCOMPARE(read.routes.size(), routes);
    }

    // Every change is the whole journal on disk at once, in a folder closed to others; a
    // folder that is a link or another user's is refused, and nothing changes. A journal
    // that others could have written is not followed.
    void writtenWholeInAPrivateFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Application Support/Tarvex"));
        const QByteArray native = QFile::encodeName(folder);
        RecoveryJournal journal(folder);
        Contents read;
        QCOMPARE(journal.read(&read), RecoveryJournal::State::Missing);
        QVERIFY(journal.setTunnel("/bin/amneziawg-go", 77));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QVERIFY(journal.addRoute({"inet", "10.0.0.0/8", "-net"}));
        QVERIFY(journal.removeRoute({"inet", "10.0.0.0/8", "-net"}));
        QVERIFY(journal.addDnsServers("Wi-Fi", {"192.168.1.1"}));
        QVERIFY(journal.addDnsServers("Wi-Fi", {"10.8.0.1"})); // the first record stands
        QVERIFY(::chmod(native.constData(), 0777) == 0);
        QCOMPARE(journal.read(&read), RecoveryJournal::State::Damaged); // not followed
        QVERIFY(read.isEmpty());
        QVERIFY(journal.setHostsBlock());
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(journal.read(&read), RecoveryJournal::State::Complete);
        QCOMPARE(read, journal.contents());
        QVERIFY(read.routes.isEmpty());
        QCOMPARE(read.dnsServers.at(0).servers, QStringList{"192.168.1.1"});

        if (::geteuid() == 0) {
            QVERIFY(::chown(native.constData(), 65534, 65534) == 0);
            QVERIFY(!journal.addRoute({"inet", "10.3.0.0/16", "-net"}));
            QCOMPARE(journal.contents(), read);
            QVERIFY(::chown(native.constData(), 0, 0) == 0);
        }
        QVERIFY(journal.remove());
        QCOMPARE(journal.read(&read), RecoveryJournal::State::Missing);
        QVERIFY(QFile::link(folder, dir.filePath(QStringLiteral("link"))));
        QVERIFY(!RecoveryJournal(dir.filePath(QStringLiteral("link"))).setHostsBlock());
    }

    // What a daemon that died left is undone in order: the tunnel program (only when the
    // pid still is one), the routes last to first, each service's DNS, the caches. A
    // damaged journal is replayed as far as it reads and kept aside.
    void replay_data()
    {
        QTest::addColumn<QString>("process");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QStringList>("stopping");
        const QString ps = "/bin/ps -o stat=,comm= -p 4242";
        const QStringList stop{ps, "/bin/kill -TERM 4242", ps};
        QTest::newRow("tunnel program runs") << "S    amneziawg-go" << false << stop;
        QTest::newRow("pid reused") << "S    launchd" << false << QStringList{ps};
        QTest::newRow("zombie") << "Z    amneziawg-go" << false << QStringList{ps};
        QTest::newRow("damaged") << "S    /usr/local/bin/amneziawg-go" << true << stop;
    }

    void replay()
    {
        QFETCH(QString, process);
        QFETCH(bool, damaged);
        QFETCH(QStringList, stopping);
        TestableMacVpnBackend backend;
        int psCalls = 0;
        backend.responder = [&](const TestableMacVpnBackend::Command &command) {
            const bool first = command.program == "/bin/ps" && psCalls++ == 0;
            return TestableMacVpnBackend::CommandResult{
                true, first ? process + '\n' : QString(), {}};
        };
        QByteArray text = RecoveryJournal::serialize(fullContents());
        if (damaged)
            text.chop(3);
        QDir().mkpath(QFileInfo(backend.journal.filePath()).path());
        QFile file(backend.journal.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();

        backend.recoverFromJournal();
        const QStringList undo{
            "/sbin/route -n delete -inet6 -net ::/1",
            "/sbin/route -n delete -net 0.0.0.0/1",
            "/sbin/route -n delete -host 198.51.100.10",
            "/usr/sbin/networksetup -setdnsservers Ethernet 9.9.9.9 149.112.112.112",
            "/usr/sbin/networksetup -setdnsservers USB \"LAN\"\t\u00e9\n Empty",
            "/usr/sbin/networksetup -setdnsservers Wi-Fi 192.168.1.1",
            "/usr/bin/dscacheutil -flushcache",
            "/usr/bin/killall -HUP mDNSResponder"};
        QCOMPARE(backend.commandLines(), stopping + undo);
        QVERIFY(!QFile::exists(backend.journal.filePath()));
        const QStringList kept = QDir(QFileInfo(backend.journal.filePath()).path())
                                     .entryList({"recovery-journal.unreadable-*"});
        QCOMPARE(kept.size(), damaged ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestRecoveryJournal)
#include "tst_recoveryjournal.moc"
