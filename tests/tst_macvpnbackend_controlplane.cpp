#include "simulatedroutingtable.h"
#include "tarvexconfig.h"
#include "testablemacvpnbackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Backend = TestableMacVpnBackend;

const QString Gateway = QStringLiteral("192.168.1.1");
const QString ApiHost = QStringLiteral("api.tarvex.test");
const QString Localhost = QStringLiteral("127.0.0.1\tlocalhost\n");
const QString Block = QStringLiteral("# BEGIN TARVEX_VPN_CLIENT\n"
                                     "198.51.100.7\tapi.tarvex.test\n"
                                     "198.51.100.8\tapi.tarvex.test\n"
                                     "# END TARVEX_VPN_CLIENT\n");
// What a daemon that died left behind, without the line feed after its end marker.
const QString OldBlock = QStringLiteral("# BEGIN TARVEX_VPN_CLIENT\n"
                                        "10.0.0.1\tapi.tarvex.test\n"
                                        "# END TARVEX_VPN_CLIENT");
const QStringList Pinned{QStringLiteral("198.51.100.7"), QStringLiteral("198.51.100.8")};

constexpr uid_t NobodyId = 65534;

struct stat statOf(const QString &path)
{
    struct stat result = {};
    ::stat(QFile::encodeName(path).constData(), &result);
    return result;
}

// Root may write any file whatever its mode and directory. The permission cases run
// with the effective ids of an unprivileged user, who owns what they touch.
class AsUnprivilegedUser
{
public:
    AsUnprivilegedUser()
    {
        if (::geteuid() == 0)
            active = ::setegid(NobodyId) == 0 && ::seteuid(NobodyId) == 0;
    }
    ~AsUnprivilegedUser()
    {
        if (active && ::seteuid(0) == 0)
            (void)::setegid(0);
    }
    AsUnprivilegedUser(const AsUnprivilegedUser &) = delete;
    AsUnprivilegedUser &operator=(const AsUnprivilegedUser &) = delete;

private:
    bool active = false;
};

// A backend whose hosts file lives in a temporary directory, with a routing table
// that has a default route and the API host resolving to the given addresses.
struct Rig
{
    explicit Rig(const QString &hostsContent = Localhost)
        : table(Gateway)
    {
        path = dir.filePath(QStringLiteral("hosts"));
        write(hostsContent);
        backend.hostsFile = path;
        backend.responder = table.responder();
        backend.hosts.insert(ApiHost, {QHostAddress(QStringLiteral("2001:db8::7")),
                                       QHostAddress(QStringLiteral("198.51.100.7")),
                                       QHostAddress(QStringLiteral("198.51.100.8")),
                                       QHostAddress(QStringLiteral("198.51.100.7"))});
    }

    void write(const QString &content)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content.toUtf8());
    }

    QString content() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Gives the directory and the hosts file to the unprivileged user (when root).
    void handOver(mode_t directoryMode, mode_t fileMode)
    {
        const QByteArray directory = QFile::encodeName(dir.path());
        const QByteArray file = QFile::encodeName(path);
        if (::geteuid() == 0) {
            QVERIFY(::chown(directory.constData(), NobodyId, NobodyId) == 0);
            QVERIFY(::chown(file.constData(), NobodyId, NobodyId) == 0);
        }
        QVERIFY(::chmod(directory.constData(), directoryMode) == 0);
        QVERIFY(::chmod(file.constData(), fileMode) == 0);
    }

    QStringList directoryEntries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString path;
    SimulatedRoutingTable table;
    Backend backend;
};

void expectStrayMarkerWarning(int line)
{
    if (line > 0)
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("^\\[MacVpnBackend\\] unbalanced hosts file marker "
                                              "left in place \".*\" line= %1$")
                                   .arg(line)));
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
        Backend backend;
        QCoreApplication::setOrganizationDomain(QStringLiteral("  api.example.org \n"));
        QCOMPARE(backend.controlPlaneHost(), QStringLiteral("api.example.org"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("   "));
        QCOMPARE(backend.controlPlaneHost(), QString::fromUtf8(Tarvex::VendorDomain));
        QVERIFY(!backend.controlPlaneHost().isEmpty());
    }

    void bypassRoutesAndPinsEachIpv4AddressOnce()
    {
        Rig rig;
        const QStringList before = rig.table.routes();
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] control-plane bypass \"api.tarvex.test\" "
                                        "-> \"198.51.100.7\" via \"192.168.1.1\"");
        rig.backend.installControlPlaneBypass(Gateway);

        QCOMPARE(rig.backend.commandLines(),
                 QStringList({"/sbin/route -n add -host 198.51.100.7 192.168.1.1",
                              "/sbin/route -n add -host 198.51.100.8 192.168.1.1"}));
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned);
        QCOMPARE(rig.content(), Localhost + Block);

        rig.backend.commands.clear();
        rig.backend.removeControlPlaneBypass();
        QCOMPARE(rig.backend.commandLines(),
                 QStringList({"/sbin/route -n delete -host 198.51.100.7",
                              "/sbin/route -n delete -host 198.51.100.8"}));
        QVERIFY(rig.backend.controlPlaneRoutes.isEmpty());
        QCOMPARE(rig.table.routes(), before);
        QCOMPARE(rig.content(), Localhost); // byte for byte as before
    }

    void refusedRouteIsNeitherRoutedNorPinned()
    {
        Rig rig;
        rig.table.failingDestinations.insert(QStringLiteral("198.51.100.7"));
        // Only pinned addresses count as seen: the repeated one is tried again.
        for (int attempt = 0; attempt < 2; ++attempt)
            QTest::ignoreMessage(QtWarningMsg,
                                 "[MacVpnBackend] control-plane route failed \"198.51.100.7\" "
                                 "\"route: writing to routing socket: Network is unreachable\"");
        rig.backend.installControlPlaneBypass(Gateway);
        QCOMPARE(rig.backend.controlPlaneRoutes, QStringList{"198.51.100.8"});
        QCOMPARE(rig.content(), Localhost + "# BEGIN TARVEX_VPN_CLIENT\n198.51.100.8\t" + ApiHost +
                                    "\n# END TARVEX_VPN_CLIENT\n");
    }

    void nothingWithoutGatewayOrAddresses_data()
    {
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<bool>("resolves");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("lookups");
        QTest::newRow("empty gateway")
            << "" << true << "[MacVpnBackend] control-plane bypass skipped: empty gateway" << 0;
        QTest::newRow("host does not resolve")
            << Gateway << false
            << "[MacVpnBackend] control-plane resolve failed \"api.tarvex.test\" \"Host "
               "api.tarvex.test not found\""
            << 1;
    }

    void nothingWithoutGatewayOrAddresses()
    {
        QFETCH(QString, gateway);
        QFETCH(bool, resolves);
        QFETCH(QString, warning);
        QFETCH(int, lookups);
        Rig rig;
        if (!resolves)
            rig.backend.hosts.clear();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        rig.backend.installControlPlaneBypass(gateway);
        QVERIFY(rig.backend.commands.isEmpty());
        QVERIFY(rig.backend.controlPlaneRoutes.isEmpty());
        QCOMPARE(rig.backend.lookups, lookups);
        QCOMPARE(rig.content(), Localhost);
    }

    void installingAgainReplacesTheEarlierBypass()
    {
        Rig rig;
        rig.backend.installControlPlaneBypass(Gateway);
        rig.backend.commands.clear();
        rig.backend.installControlPlaneBypass(Gateway);
        QCOMPARE(rig.backend.commandLines(),
                 QStringList({"/sbin/route -n delete -host 198.51.100.7",
                              "/sbin/route -n delete -host 198.51.100.8",
                              "/sbin/route -n add -host 198.51.100.7 192.168.1.1",
                              "/sbin/route -n add -host 198.51.100.8 192.168.1.1"}));
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned);
        QCOMPARE(rig.content(), Localhost + Block);
    }

    void pinning_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("strayLine");

        QTest::newRow("empty file") << "" << Block << 0;
        QTest::newRow("ends with a line feed") << Localhost << Localhost + Block << 0;
        QTest::newRow("no final line feed") << Localhost.chopped(1) << Localhost + Block << 0;
        QTest::newRow("leftover block at the end") << Localhost + OldBlock + "\n"
                                                   << Localhost + Block << 0;
        QTest::newRow("leftover block between lines") << "a\n" + OldBlock + "\nb\n"
                                                      << "a\nb\n" + Block << 0;
        QTest::newRow("leftover block alone, white space around") << "\n\n  " + OldBlock + "\n\n"
                                                                  << Block << 0;
        QTest::newRow("two leftover blocks") << OldBlock + "\nkept\n" + OldBlock + "\n"
                                             << "kept\n" + Block << 0;
        QTest::newRow("stray end marker ahead of everything")
            << "# END TARVEX_VPN_CLIENT\na\n"
            << "# END TARVEX_VPN_CLIENT\na\n" + Block << 1;
        QTest::newRow("stray begin marker keeps what follows")
            << "a\n# BEGIN TARVEX_VPN_CLIENT\nb\n"
            << "a\n# BEGIN TARVEX_VPN_CLIENT\nb\n" + Block << 2;
        QTest::newRow("stray begin marker ahead of a leftover block")
            << "# BEGIN TARVEX_VPN_CLIENT\nkept\n" + OldBlock + "\n"
            << "# BEGIN TARVEX_VPN_CLIENT\nkept\n" + Block << 1;
        QTest::newRow("marker text inside other lines")
            << "a # BEGIN TARVEX_VPN_CLIENT\nb\n#  END TARVEX_VPN_CLIENT x\n"
            << "a # BEGIN TARVEX_VPN_CLIENT\nb\n#  END TARVEX_VPN_CLIENT x\n" + Block << 0;
        QTest::newRow("non-ASCII text, CRLF lines")
            << "127.0.0.1\tlocalhost\r\n10.0.0.2\tcafé\r\n"
            << "127.0.0.1\tlocalhost\n10.0.0.2\tcafé\n" + Block << 0;
    }

    void pinning()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, strayLine);
        Rig rig(before);
        expectStrayMarkerWarning(strayLine);
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] pinned control-plane host "
                                        "\"api.tarvex.test\" QList(\"198.51.100.7\", "
                                        "\"198.51.100.8\")");
        rig.backend.pinControlPlaneHosts(Pinned);
        QCOMPARE(rig.content(), after);
    }

    void unpinning_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("strayLine");

        // Pinning appended the block after "a\n": unpinning gives exactly "a\n" back.
        QTest::newRow("block at the end") << "a\n" + Block << "a\n" << 0;
        QTest::newRow("block between lines") << "a\n" + Block + "b\n"
                                             << "a\nb\n"
                                             << 0;
        QTest::newRow("block between empty lines") << "a\n\n" + Block + "\nb\n"
                                                   << "a\n\nb\n"
                                                   << 0;
        QTest::newRow("runs of empty lines collapse") << "a\n\n\n\nb\n\n\n" + Block + "\n\nc\n"
                                                      << "a\n\nb\n\nc\n"
                                                      << 0;
        QTest::newRow("no line feed after the end marker") << "a\n" + Block.chopped(1) << "a\n"
                                                           << 0;
        QTest::newRow("only the block") << Block << "" << 0;
        QTest::newRow("stray begin marker before the block")
            << "a\n# BEGIN TARVEX_VPN_CLIENT\nb\n" + Block << "a\n# BEGIN TARVEX_VPN_CLIENT\nb\n"
            << 2;
        QTest::newRow("stray end marker after the block")
            << "a\n" + Block + "# END TARVEX_VPN_CLIENT\n"
            << "a\n# END TARVEX_VPN_CLIENT\n"
            << 6;
    }

    void unpinning()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, strayLine);
        Rig rig(before);
        expectStrayMarkerWarning(strayLine);
        QTest::ignoreMessage(QtInfoMsg, "[MacVpnBackend] unpinned control-plane hosts");
        rig.backend.unpinControlPlaneHosts();
        QCOMPARE(rig.content(), after);
    }

    void unpinningWithoutBlockDoesNotWrite_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("strayLine");
        QTest::newRow("no marker") << Localhost + "\n\n\n" << 0;
        QTest::newRow("end marker before begin marker")
            << "# END TARVEX_VPN_CLIENT\nx\n# BEGIN TARVEX_VPN_CLIENT\n"
            << 1;
    }

    void unpinningWithoutBlockDoesNotWrite()
    {
        QFETCH(QString, content);
        QFETCH(int, strayLine);
        Rig rig(content);
        const struct stat before = statOf(rig.path);
        expectStrayMarkerWarning(strayLine);
        if (strayLine > 0)
            expectStrayMarkerWarning(3);
        rig.backend.unpinControlPlaneHosts();
        const struct stat after = statOf(rig.path);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(rig.content(), content);
    }

    void rewriteReplacesTheFileKeepingOwnerAndMode()
    {
        Rig rig;
        const QByteArray path = QFile::encodeName(rig.path);
        QVERIFY(::chmod(path.constData(), 0640) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(path.constData(), NobodyId, NobodyId) == 0);
        const struct stat before = statOf(rig.path);

        rig.backend.pinControlPlaneHosts(Pinned);
        const struct stat pinned = statOf(rig.path);
        QVERIFY(pinned.st_ino != before.st_ino);
        QCOMPARE(pinned.st_mode, before.st_mode);
        QCOMPARE(pinned.st_uid, before.st_uid);
        QCOMPARE(pinned.st_gid, before.st_gid);

        rig.backend.unpinControlPlaneHosts();
        const struct stat unpinned = statOf(rig.path);
        QVERIFY(unpinned.st_ino != pinned.st_ino);
        QCOMPARE(unpinned.st_mode, before.st_mode);
        QCOMPARE(unpinned.st_uid, before.st_uid);
        QCOMPARE(rig.directoryEntries(), QStringList{"hosts"});
        if (!root)
            QSKIP("owner change needs root; mode and replacement checked");
    }

    void symlinkedHostsFileStaysALink()
    {
        Rig rig;
        const QString link = rig.dir.filePath(QStringLiteral("hosts-link"));
        QVERIFY(QFile::link(rig.path, link));
        rig.backend.hostsFile = link;
        rig.backend.pinControlPlaneHosts(Pinned);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(rig.content(), Localhost + Block);
    }

    void readOnlyHostsFileKeepsRoutesAndFile()
    {
        Rig rig;
        rig.handOver(0777, 0444);
        {
            AsUnprivilegedUser unprivileged;
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[MacVpnBackend\\] unable to write hosts "
                                                    "file \".+\"$"));
            rig.backend.installControlPlaneBypass(Gateway);
        }
        QCOMPARE(rig.backend.controlPlaneRoutes, Pinned);
        QCOMPARE(rig.content(), Localhost);

        const QByteArray path = QFile::encodeName(rig.path);
        QVERIFY(::chmod(path.constData(), 0644) == 0);
        rig.write(Localhost + Block);
        QVERIFY(::chmod(path.constData(), 0444) == 0);
        {
            AsUnprivilegedUser unprivileged;
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[MacVpnBackend\\] unable to restore hosts "
                                                    "file \".+\"$"));
            rig.backend.unpinControlPlaneHosts();
        }
        QCOMPARE(rig.content(), Localhost + Block);
    }

    void lockedDirectoryFallsBackToRewritingInPlace()
    {
        Rig rig(Localhost + OldBlock + "\n");
        rig.handOver(0555, 0644);
        const struct stat before = statOf(rig.path);
        {
            AsUnprivilegedUser unprivileged;
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[MacVpnBackend\\] hosts file rewritten in "
                                                    "place: \".+\"$"));
            rig.backend.pinControlPlaneHosts(Pinned);
            QCOMPARE(rig.content(), Localhost + Block);

            // Shrinking in place must not leave the old tail behind.
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^\\[MacVpnBackend\\] hosts file rewritten in "
                                                    "place: \".+\"$"));
            rig.backend.unpinControlPlaneHosts();
            QCOMPARE(rig.content(), Localhost); // byte for byte as before
        }
        QCOMPARE(statOf(rig.path).st_ino, before.st_ino);
        QCOMPARE(rig.directoryEntries(), QStringList{"hosts"});
        QVERIFY(::chmod(QFile::encodeName(rig.dir.path()).constData(), 0755) == 0);
    }

    void missingHostsFile()
    {
        Rig rig;
        QVERIFY(QFile::remove(rig.path));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^\\[MacVpnBackend\\] unable to read hosts file"));
        rig.backend.pinControlPlaneHosts(Pinned);
        QVERIFY(!QFile::exists(rig.path));

        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        rig.backend.unpinControlPlaneHosts();
        QVERIFY(!QFile::exists(rig.path));
    }
};

QTEST_GUILESS_MAIN(TestMacVpnBackendControlPlane)
#include "tst_macvpnbackend_controlplane.moc"
