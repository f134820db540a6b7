#include "hostsfileeditor.h"
#include "recoveryjournal.h"
#include "runtimedirectoryguard.h"
#include "statof.h"
#include "systemfilewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What another local user might have left at a path before the daemon came: an entry of
// the given kind. "foreign" entries belong to nobody (65534), which needs root to arrange.
bool plant(const QString &path, const QString &kind, const QByteArray &content = {})
{
    const QByteArray native = QFile::encodeName(path);
    if (kind == "missing")
        return true;
    if (kind.startsWith("dir")) { // dir<mode in octal>
        return ::mkdir(native.constData(), 0700) == 0 &&
               ::chmod(native.constData(), mode_t(kind.mid(3).toUInt(nullptr, 8))) == 0;
    }
    if (kind == "fifo")
        return ::mkfifo(native.constData(), 0666) == 0;
    if (kind == "link") {
        const QString target = path + ".target";
        return plant(target, content.isEmpty() ? "dir700" : "file", content) &&
               QFile::link(target, path);
    }
    if (kind == "foreign dir" || kind == "foreign file")
        return plant(path, kind == "foreign dir" ? "dir700" : "file", content) &&
               ::chown(native.constData(), 65534, 65534) == 0;
    QFile file(path); // "file"
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

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

const QByteArray Begin = "# BEGIN TARVEX_VPN_CLIENT\n";
const QByteArray End = "# END TARVEX_VPN_CLIENT\n";
const QByteArray Block =
    Begin + "198.51.100.7\tapi.tarvex.test\n198.51.100.8\tapi.tarvex.test\n" + End;
// What a daemon that died left behind, without the line feed after its end marker.
const QByteArray OldBlock = Begin + "10.0.0.1\tapi.tarvex.test\n" + End.chopped(1);
constexpr uid_t Nobody = 65534;

} // namespace

class TestRootFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int serial = 0;

    QString freshPath() { return dir.filePath(QStringLiteral("case%1/run").arg(++serial)); }

    static void skipUnlessRoot(const QString &kind)
    {
        if (kind.startsWith("foreign") && ::geteuid() != 0)
            QSKIP("handing a file to another user needs root");
    }

private slots:
    void prepare_data()
    {
        QTest::addColumn<QString>("found");
        QTest::addColumn<bool>("movedAside");

        QTest::newRow("nothing there") << "missing" << false;
        QTest::newRow("own, readable by all") << "dir755" << false;
        QTest::newRow("own, group-writable") << "dir770" << true;
        QTest::newRow("another user's") << "foreign dir" << true;
        QTest::newRow("link to a private directory") << "link" << true;
    }

    void prepare()
    {
        QFETCH(QString, found);
        QFETCH(bool, movedAside);
        skipUnlessRoot(found);
        const QString path = freshPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(plant(path, found));

        QString detail;
        QVERIFY2(RuntimeDirectoryGuard::prepare(path, &detail), qPrintable(detail));
        QVERIFY(S_ISDIR(statOf(path).st_mode));
        if (movedAside || found == "missing")
            QCOMPARE(statOf(path).st_mode & 07777, mode_t(0700));
        // The untrusted entry is kept, renamed, with whatever it held; nothing is followed.
        const QStringList aside =
            QDir(QFileInfo(path).path())
                .entryList({"run.untrusted-*"}, QDir::AllEntries | QDir::System);
        QCOMPARE(aside.size(), movedAside ? 1 : 0);
        if (found == "link")
            QVERIFY(S_ISDIR(statOf(path + ".target").st_mode));
    }

    void readInterfaceName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused"); // a problem is reported

        QTest::newRow("not written yet") << "missing" << QByteArray() << "" << false;
        QTest::newRow("written empty") << "file" << QByteArray() << "" << false;
        QTest::newRow("name and line feed")
            << "file" << QByteArray("utun4\nrest") << "utun4" << false;
        QTest::newRow("name without line feed")
            << "file" << QByteArray(" utun12 ") << "utun12" << false;
        QTest::newRow("a physical interface") << "file" << QByteArray("en0\n") << "" << true;
        // Never waited on for a writer: opening it to read would hang the test.
        QTest::newRow("FIFO") << "fifo" << QByteArray() << "" << true;
        QTest::newRow("link to a good file") << "link" << QByteArray("utun4\n") << "" << true;
        QTest::newRow("another user's file")
            << "foreign file" << QByteArray("utun4\n") << "" << true;
    }

    void readInterfaceName()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(bool, refused);
        skipUnlessRoot(kind);
        const QString file = dir.filePath(QStringLiteral("name%1").arg(++serial));
        QVERIFY(plant(file, kind, content));

        QString problem;
        QCOMPARE(RuntimeDirectoryGuard::readInterfaceName(file, &problem), name);
        QCOMPARE(!problem.isEmpty(), refused);
    }

    void trustedSocket_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("own socket") << "socket" << true;
        QTest::newRow("another user's socket") << "foreign socket" << false;
        QTest::newRow("link to own socket") << "link" << false;
    }

    void trustedSocket()
    {
        QFETCH(QString, kind);
        QFETCH(bool, trusted);
        skipUnlessRoot(kind);
        const QString path = dir.filePath(QStringLiteral("s%1.sock").arg(++serial));
        QLocalServer server;
        QVERIFY(server.listen(kind == "link" ? path + ".real" : path));
        if (kind == "link")
            QVERIFY(QFile::link(path + ".real", path));
        if (kind.startsWith("foreign"))
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        QString problem;
        QCOMPARE(RuntimeDirectoryGuard::isTrustedSocket(path, &problem), trusted);
        QCOMPARE(problem.isEmpty(), trusted);
    }

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
        const QString folder = dir.filePath(QStringLiteral("Application Support/Tarvex"));
        const QByteArray native = QFile::encodeName(folder);
        RecoveryJournal journal(folder);
        Contents read;
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

    // Pinning replaces leftover blocks and appends its own after the text it keeps;
    // unpinning removes only well-formed blocks, giving a file it pinned back byte for
    // byte. Text outside a block, white space and empty lines included, is never deleted,
    // and a file with a marker line outside any block is not changed at all.
    void pinAndUnpin_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("kept"); // after unpinning; null: the file is untouched
        QTest::addColumn<QList<int>>("strayLines");
        const auto row = [](const char *name, const QByteArray &before, const QByteArray &kept,
                            const QList<int> &strayLines = {}) {
            QTest::newRow(name) << before << kept << strayLines;
        };

        row("empty file", "", "");
        row("no final line feed", "a", "a\n");
        row("leftover block, white space around", "\n  a\n" + OldBlock + "\nb\n\n", "\n  a\nb\n\n");
        row("two leftover blocks", OldBlock + "\nkept\n" + OldBlock, "kept\n");
        row("marker text inside other lines", "a " + Begin + "b\n" + End.chopped(1) + " x\n",
            "a " + Begin + "b\n" + End.chopped(1) + " x\n");
        // Bytes, whatever their encoding: Latin-1 comes back as it was, CRLF stays.
        row("Latin-1 text, CRLF around a leftover block",
            "caf\xe9\r\n" + OldBlock + "\r\nni\xf1o\r\n", "caf\xe9\r\nni\xf1o\r\n");
        row("stray end marker", End + "a\n", QByteArray(), {1});
        row("stray begin marker", "a\n" + Begin + "b\n", QByteArray(), {2});
        // Removing the inner block would pair the outer markers around "b" (found by
        // fuzzing: the next unpin deleted "b").
        row("block between stray markers", Begin + "b\n" + OldBlock + "\n" + End, QByteArray(),
            {1, 6});
    }

    void pinAndUnpin()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, kept);
        QFETCH(QList<int>, strayLines);

        const HostsFileEditor::Edit pinned =
            HostsFileEditor::pin(before, "api.tarvex.test", {"198.51.100.7", "198.51.100.8"});
        QCOMPARE(pinned.changed, !kept.isNull());
        QCOMPARE(pinned.content, kept.isNull() ? before : kept + Block);
        QCOMPARE(pinned.strayMarkerLines, strayLines);

        const HostsFileEditor::Edit removed = HostsFileEditor::unpin(pinned.content);
        QCOMPARE(removed.changed, !kept.isNull());
        QCOMPARE(removed.content, kept.isNull() ? before : kept);
        QCOMPARE(removed.strayMarkerLines, strayLines);
        // A file without a block is no change at all.
        const HostsFileEditor::Edit again = HostsFileEditor::unpin(removed.content);
        QVERIFY(!again.changed);
        QCOMPARE(again.content, removed.content);
    }

    // The file is replaced, never rewritten in place, keeping its owner and mode, unless its
    // folder forbids it; then it is rewritten in place, a shorter content leaving no tail.
    // A read-only file stays as it is. Root may write anything, so an unprivileged user
    // (who owns what is written) does the writing. A link stays a link.
    void write_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("link");
        QTest::addColumn<SystemFileWriter::Result>("result");

        using Result = SystemFileWriter::Result;
        QTest::newRow("replaced") << 0700 << 0640 << false << Result::Replaced;
        QTest::newRow("folder locked") << 0555 << 0644 << false << Result::RewrittenInPlace;
        QTest::newRow("read-only file") << 0777 << 0444 << false << Result::Failed;
        QTest::newRow("through a link") << 0700 << 0644 << true << Result::Replaced;
    }

    void write()
    {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(bool, link);
        QFETCH(SystemFileWriter::Result, result);
        QTemporaryDir dir;
        const QString file = dir.filePath("hosts");
        const QString path = link ? dir.filePath("hosts-link") : file;
        const QByteArray before = "127.0.0.1\tlocalhost\n# a longer line than what follows\n";
        QFile original(file);
        QVERIFY(original.open(QIODevice::WriteOnly) && original.write(before) > 0);
        original.close();
        QVERIFY(!link || QFile::link(file, path));
        const bool root = ::geteuid() == 0;
        for (const QString &entry : {dir.path(), file}) {
            const QByteArray native = QFile::encodeName(entry);
            QVERIFY(!root || ::chown(native.constData(), Nobody, Nobody) == 0);
            QVERIFY(::chmod(native.constData(), entry == file ? fileMode : folderMode) == 0);
        }
        const struct stat old = statOf(file);

        QVERIFY(!root || (::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0));
        QString error;
        const SystemFileWriter::Result written =
            SystemFileWriter::write(path, "127.0.0.1\tlocalhost\n", &error);
        QVERIFY(!root || (::seteuid(0) == 0 && ::setegid(0) == 0));
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);

        QCOMPARE(written, result);
        QCOMPARE(error.isEmpty(), result == SystemFileWriter::Result::Replaced);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(original.readAll(), result == SystemFileWriter::Result::Failed
                                         ? before
                                         : QByteArray("127.0.0.1\tlocalhost\n"));
        const struct stat now = statOf(file);
        QCOMPARE(now.st_ino != old.st_ino, result == SystemFileWriter::Result::Replaced);
        QCOMPARE(now.st_mode, old.st_mode);
        QCOMPARE(now.st_uid, old.st_uid);
        QCOMPARE(now.st_gid, old.st_gid);
        QCOMPARE(QFileInfo(path).isSymLink(), link);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                 link ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestRootFiles)
#include "tst_rootfiles.moc"
