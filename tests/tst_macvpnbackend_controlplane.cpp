#include "simulatedroutingtable.h"
#include "tarvexconfig.h"
#include "testablemacvpnbackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Gateway = QStringLiteral("192.168.1.1");
const QString ApiHost = QStringLiteral("api.tarvex.test");
const QString Localhost = QStringLiteral("127.0.0.1\tlocalhost\n");
const QString Begin = QStringLiteral("# BEGIN TARVEX_VPN_CLIENT\n");
const QString End = QStringLiteral("# END TARVEX_VPN_CLIENT\n");
const QString Block =
    Begin + "198.51.100.7\tapi.tarvex.test\n198.51.100.8\tapi.tarvex.test\n" + End;
// What a daemon that died left behind, without the line feed after its end marker.
const QString OldBlock = Begin + "10.0.0.1\tapi.tarvex.test\n" + End.chopped(1);
const QStringList Pinned{QStringLiteral("198.51.100.7"), QStringLiteral("198.51.100.8")};

constexpr uid_t NobodyId = 65534;

struct stat statOf(const QString &path)
{
    struct stat result = {};
    ::stat(QFile::encodeName(path).constData(), &result);
    return result;
}

// Root may write any file whatever its mode and directory: the permission cases run
// with the effective ids of an unprivileged user, who owns what they touch.
void asUnprivilegedUser(const std::function<void()> &step)
{
    const bool root = ::geteuid() == 0;
    QVERIFY(!root || (::setegid(NobodyId) == 0 && ::seteuid(NobodyId) == 0));
    step();
    QVERIFY(!root || (::seteuid(0) == 0 && ::setegid(0) == 0));
}

// A backend whose hosts file lives in a temporary directory, with a routing table that
// has a default route, and the API host resolving to an IPv6 address and two IPv4
// addresses, one of them twice.
struct Rig
{
    explicit Rig(const QString &hostsContent = Localhost)
        : path(dir.filePath(QStringLiteral("hosts")))
        , table(Gateway)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(hostsContent.toUtf8());
        backend.hostsFile = path;
        backend.responder = table.responder();
        backend.hosts.insert(ApiHost,
                             {QHostAddress(QStringLiteral("2001:db8::7")), QHostAddress(Pinned[0]),
                              QHostAddress(Pinned[1]), QHostAddress(Pinned[0])});
    }

    QByteArray bytes() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString content() const { return QString::fromUtf8(bytes()); }

    // Gives the directory and the hosts file to the unprivileged user (when root), and
    // the recovery journal's folder, which must be its own.
    void handOver(mode_t directoryMode, mode_t fileMode)
    {
        const QByteArray journal = QFile::encodeName(backend.journalDirectory.path());
        QVERIFY(::geteuid() != 0 || ::chown(journal.constData(), NobodyId, NobodyId) == 0);
        for (const QString &name : {dir.path(), path}) {
            const QByteArray native = QFile::encodeName(name);
            QVERIFY(::geteuid() != 0 || ::chown(native.constData(), NobodyId, NobodyId) == 0);
            QVERIFY(::chmod(native.constData(), name == path ? fileMode : directoryMode) == 0);
        }
    }

    QStringList directoryEntries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString path;
    SimulatedRoutingTable table;
    TestableMacVpnBackend backend;
};

void expectWarning(const QString &pattern)
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[MacVpnBackend\\] " + pattern));
}

void expectStrayMarkers(const QList<int> &lines)
{
    for (const int line : lines)
        expectWarning("unbalanced hosts file marker left in place \".*\" line= " +
                      QString::number(line) + '$');
}

} // namespace

class TestMacVpnBackendControlPlane : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setOrganizationDomain(ApiHost); }
    void cleanup() { QCoreApplication::setOrganizationDomain(ApiHost); }

    void hostIsTheOrganisationDomain()
    {
        TestableMacVpnBackend backend;
        QCoreApplication::setOrganizationDomain(QStringLiteral("  api.example.org \n"));
        QCOMPARE(backend.controlPlaneHost(), QStringLiteral("api.example.org"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("   "));
        QCOMPARE(backend.controlPlaneHost(), QString::fromUtf8(Tarvex::VendorDomain));
    }

    // Each IPv4 address is routed and pinned once, and installing again replaces the
    // earlier bypass. The hosts file is replaced, never rewritten in place, keeping its
    // owner and mode, and removing the bypass gives it back byte for byte.
    void bypassIsInstalledAndRemoved()
    {
        Rig rig;
        rig.handOver(0700, 0640);
        const QStringList routesBefore = rig.table.routes();
        const struct stat before = statOf(rig.path);
        // Held open so that no later file can be given the inode of one that was replaced.
        QFile original(rig.path);
        QVERIFY(original.open(QIODevice::ReadOnly));

        rig.backend.installControlPlaneBypass(Gateway);
        rig.backend.installControlPlaneBypass(Gateway);
        const struct stat pinned = statOf(rig.path);
        QFile pinnedFile(rig.path);
        QVERIFY(pinnedFile.open(QIODevice::ReadOnly));
        const QString add = QStringLiteral("/sbin/route -n add -host %1 192.168.1.1");
        const QString remove = QStringLiteral("/sbin/route -n delete -host %1");
        QCOMPARE(rig.backend.commandLines(),
                 QStringList({add.arg(Pinned[0]), add.arg(Pinned[1]), remove.arg(Pinned[0]),
                              remove.arg(Pinned[1]), add.arg(Pinned[0]), add.arg(Pinned[1])}));
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned);
        QCOMPARE(rig.content(), Localhost + Block);

        rig.backend.removeControlPlaneBypass();
        QVERIFY(rig.backend.controlPlaneRoutes.isEmpty());
        QCOMPARE(rig.table.routes(), routesBefore);
        QCOMPARE(rig.content(), Localhost);
        const struct stat unpinned = statOf(rig.path);
        QVERIFY(pinned.st_ino != before.st_ino && unpinned.st_ino != pinned.st_ino);
        for (const struct stat &after : {pinned, unpinned}) {
            QCOMPARE(after.st_mode, before.st_mode);
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
        }
        QCOMPARE(rig.directoryEntries(), QStringList{"hosts"});
    }

    void refusedRouteIsNeitherRoutedNorPinned()
    {
        Rig rig;
        rig.table.failingDestinations.insert(Pinned[0]);
        rig.backend.installControlPlaneBypass(Gateway);
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned.mid(1));
        QCOMPARE(rig.content(), Localhost + Begin + "198.51.100.8\tapi.tarvex.test\n" + End);
    }

    // Pinning replaces leftover blocks and appends its own after the text it keeps;
    // unpinning removes only well-formed blocks, and a file without one is not even
    // rewritten. Text outside a block, white space and empty lines included, is never
    // deleted, and a file with a marker line outside any block is not changed at all.
    void pinAndUnpin_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("pinned");
        QTest::addColumn<QByteArray>("unpinned");
        QTest::addColumn<QList<int>>("strayLines");
        const auto row = [](const char *name, const QByteArray &before, const QByteArray &kept) {
            QTest::newRow(name) << before << kept + Block.toUtf8() << kept << QList<int>();
        };
        // Where a marker line belongs to no block, no block can be told for sure.
        const auto untouched = [](const char *name, const QString &before,
                                  const QList<int> &strayLines) {
            QTest::newRow(name) << before.toUtf8() << before.toUtf8() << before.toUtf8()
                                << strayLines;
        };

        row("empty file", "", "");
        row("no final line feed", "a", "a\n");
        row("leftover block, white space around", ("\n  a\n" + OldBlock + "\nb\n\n").toUtf8(),
            "\n  a\nb\n\n");
        row("two leftover blocks", (OldBlock + "\nkept\n" + OldBlock).toUtf8(), "kept\n");
        row("marker text inside other lines",
            ("a " + Begin + "b\n" + End.chopped(1) + " x\n").toUtf8(),
            ("a " + Begin + "b\n" + End.chopped(1) + " x\n").toUtf8());
        row("runs of empty lines", "a\n\n\n\nb\n\n", "a\n\n\n\nb\n\n");
        // Bytes, whatever their encoding: Latin-1 comes back as it was, CRLF stays.
        const QByteArray latin1 = "10.0.0.2\tcaf\xe9\r\n# ni\xf1o\r\n";
        row("Latin-1 text, CRLF lines", latin1, latin1);
        row("CRLF kept around a leftover block", ("a\r\n" + OldBlock + "\r\n").toUtf8(), "a\r\n");
        untouched("stray end marker", End + "a\n", {1});
        untouched("stray begin marker", "a\n" + Begin + "b\n", {2});
        // Removing the inner block would pair the outer markers around "b".
        untouched("block between stray markers", Begin + "b\n" + OldBlock + "\n" + End, {1, 6});
    }

    void pinAndUnpin()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, pinned);
        QFETCH(QByteArray, unpinned);
        QFETCH(QList<int>, strayLines);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("."))); // only the stray markers
        Rig rig;
        QFile file(rig.path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(before) >= 0);
        file.close();
        expectStrayMarkers(strayLines);
        rig.backend.pinControlPlaneHosts(Pinned);
        QCOMPARE(rig.bytes(), pinned);

        expectStrayMarkers(strayLines);
        rig.backend.unpinControlPlaneHosts();
        QCOMPARE(rig.bytes(), unpinned);

        const ino_t inode = statOf(rig.path).st_ino;
        expectStrayMarkers(strayLines);
        rig.backend.unpinControlPlaneHosts();
        QCOMPARE(statOf(rig.path).st_ino, inode);
        QCOMPARE(rig.bytes(), unpinned);
    }

    void symlinkedHostsFileStaysALink()
    {
        Rig rig;
        rig.backend.hostsFile = rig.dir.filePath(QStringLiteral("hosts-link"));
        QVERIFY(QFile::link(rig.path, rig.backend.hostsFile));
        rig.backend.pinControlPlaneHosts(Pinned);
        QVERIFY(QFileInfo(rig.backend.hostsFile).isSymLink());
        QCOMPARE(rig.content(), Localhost + Block);
    }

    // Routes stay, and the file stays as it is on the way in and on the way out.
    void readOnlyHostsFile()
    {
        Rig rig(Localhost + Block);
        rig.handOver(0777, 0444);
        asUnprivilegedUser([&] {
            expectWarning("unable to restore hosts file \".+\"$");
            expectWarning("unable to write hosts file \".+\"$");
            rig.backend.installControlPlaneBypass(Gateway);
        });
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned);
        QCOMPARE(rig.content(), Localhost + Block);
    }

    void lockedDirectoryFallsBackToRewritingInPlace()
    {
        Rig rig(Localhost + OldBlock + "\n");
        rig.handOver(0555, 0644);
        const ino_t inode = statOf(rig.path).st_ino;
        asUnprivilegedUser([&] {
            expectWarning("hosts file rewritten in place: \".+\"$");
            rig.backend.pinControlPlaneHosts(Pinned);
            QCOMPARE(rig.content(), Localhost + Block);
            // Shrinking in place must not leave the old tail behind.
            expectWarning("hosts file rewritten in place: \".+\"$");
            rig.backend.unpinControlPlaneHosts();
            QCOMPARE(rig.content(), Localhost);
        });
        QCOMPARE(statOf(rig.path).st_ino, inode);
        QCOMPARE(rig.directoryEntries(), QStringList{"hosts"});
        rig.handOver(0755, 0644);
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendControlPlane)
#include "tst_macvpnbackend_controlplane.moc"
