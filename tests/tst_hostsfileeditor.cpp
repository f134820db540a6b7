#include "hostsfileeditor.h"
#include "statof.h"
#include "systemfilewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

const QByteArray Begin = "# BEGIN TARVEX_VPN_CLIENT\n";
const QByteArray End = "# END TARVEX_VPN_CLIENT\n";
const QByteArray Block =
    Begin + "198.51.100.7\tapi.tarvex.test\n198.51.100.8\tapi.tarvex.test\n" + End;
// What a daemon that died left behind, without the line feed after its end marker.
const QByteArray OldBlock = Begin + "10.0.0.1\tapi.tarvex.test\n" + End.chopped(1);
constexpr uid_t Nobody = 65534;

} // namespace

class TestHostsFileEditor : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TestHostsFileEditor)
#include "tst_hostsfileeditor.moc"
