#include "hostsfileeditor.h"

#include <QTest>

namespace {

const QByteArray Begin = "# BEGIN TARVEX_VPN_CLIENT\n";
const QByteArray End = "# END TARVEX_VPN_CLIENT\n";
const QByteArray Block =
    Begin + "198.51.100.7\tapi.tarvex.test\n198.51.100.8\tapi.tarvex.test\n" + End;
// What a daemon that died left behind, without the line feed after its end marker.
const QByteArray OldBlock = Begin + "10.0.0.1\tapi.tarvex.test\n" + End.chopped(1);

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
};

QTEST_GUILESS_MAIN(TestHostsFileEditor)
#include "tst_hostsfileeditor.moc"
