#include "statof.h"
#include "systemfilewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;

} // namespace

class TestSystemFileWriter : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(TestSystemFileWriter)
#include "tst_systemfilewriter.moc"
