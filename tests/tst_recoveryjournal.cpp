#include "recoveryjournal.h"
#include "statof.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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
        QCOMPARE(statOf(folder).st_mode & 07777, mode_t(0700));
        QVERIFY(journal.addRoute({"inet", "10.0.0.0/8", "-net"}));
        QVERIFY(journal.removeRoute({"inet", "10.0.0.0/8", "-net"}));
        QVERIFY(journal.addDnsServers("Wi-Fi", {"192.168.1.1"}));
        QVERIFY(journal.addDnsServers("Wi-Fi", {"10.8.0.1"})); // the first record stands
        QVERIFY(::chmod(native.constData(), 0777) == 0);
        QCOMPARE(journal.read(&read), RecoveryJournal::State::Damaged); // not followed
        QVERIFY(read.isEmpty());
        QVERIFY(journal.setHostsBlock());
        QCOMPARE(statOf(folder).st_mode & 07777, mode_t(0700));
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
};

QTEST_GUILESS_MAIN(TestRecoveryJournal)
#include "tst_recoveryjournal.moc"
