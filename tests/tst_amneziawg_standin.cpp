#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

const QString StandIn = QStringLiteral(TARVEX_AMNEZIAWG_STANDIN);
const QByteArray KeyA = QByteArray(64, 'a');
const QByteArray KeyB = QByteArray(64, 'b');
const QByteArray Peer = "public_key=" + KeyB + "\n";
const QByteArray Invalid = "errno=" + QByteArray::number(-EINVAL) + "\n\n";
const QByteArray Ok = "errno=0\n\n";

} // namespace

class TestAmneziawgStandIn : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QProcess program;

    QString path(const QString &name) const { return dir->filePath(name); }

    // Starts the program as the daemon does, with one more environment variable; the
    // interface name once it is in the name file, or empty.
    QString startTunnel(const QString &variable = QString(), const QString &value = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WG_TUN_NAME_FILE", path("amn0.name"));
        if (!variable.isEmpty())
            env.insert(variable, value);
        program.setProcessEnvironment(env);
        program.start(StandIn, {"-f", "utun"});
        if (!program.waitForStarted(5000))
            return {};
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000 && program.state() == QProcess::Running) {
            QFile file(path("amn0.name"));
            if (file.open(QIODevice::ReadOnly) && file.size() > 0)
                return QString::fromLocal8Bit(file.readLine()).trimmed();
            QTest::qWait(10);
        }
        return {};
    }

    QByteArray exchange(const QByteArray &request)
    {
        QLocalSocket socket;
        socket.connectToServer(path("utun0.sock"));
        socket.waitForConnected(1000);
        socket.write(request);
        QByteArray reply;
        while (!reply.contains("\n\n") && socket.waitForReadyRead(1000))
            reply += socket.readAll();
        return reply;
    }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void cleanup()
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(3000);
        }
    }

    // What wireguard-go accepts and refuses, so that a request the stand-in takes is one a
    // real tunnel program takes too; the backend's own request is checked end to end.
    void setValidation_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");

        const auto peerSet = [](const QByteArray &line) {
            return "set=1\n" + Peer + line + "\n\n";
        };
        QTest::newRow("AmneziaWG keys, upper-case hex")
            << "set=1\nprivate_key=" + KeyA.toUpper() +
                   "\ns3=0\ns4=0\nh1=5-9\ni1=<b 0xf6ab>\ni2=\ni3=x\ni4=y\ni5=z\n\n"
            << Ok;
        QTest::newRow("unknown key") << QByteArray("set=1\nbogus=1\n\n") << Invalid;
        QTest::newRow("key too short") << "set=1\nprivate_key=" + KeyA.left(62) + "\n\n" << Invalid;
        QTest::newRow("device key after public_key") << peerSet("jc=4") << Invalid;
        QTest::newRow("endpoint ipv6 without brackets")
            << peerSet("endpoint=2001:db8::1:51820") << Invalid;
        QTest::newRow("allowed ip prefix too long") << peerSet("allowed_ip=10.0.0.0/33") << Invalid;
        QTest::newRow("keep-alive empty") << peerSet("persistent_keepalive_interval=") << Invalid;
        QTest::newRow("line without equals") << QByteArray("set=1\nprivate_key\n\n")
                                             << "errno=" + QByteArray::number(-EPROTO) + "\n\n";
    }

    void setValidation()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QCOMPARE(startTunnel(), QStringLiteral("utun0"));
        QCOMPARE(exchange(request), reply);
        if (reply != Ok) {
            // Unlike wireguard-go, a refused request leaves nothing half applied.
            QCOMPARE(exchange("get=1\n\n"), QByteArray("listen_port=0\nerrno=0\n\n"));
            return;
        }
        // The records hold key material: readable by the owner only.
        for (const char *record : {"utun0.request", "utun0.json"}) {
            QVERIFY(QFile::exists(path(record)));
            QCOMPARE(QFile::permissions(path(record)) & (QFile::ReadOther | QFile::ReadGroup),
                     QFile::Permissions());
        }
    }

    void refusesToStart_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("message");

        QTest::newRow("no name file")
            << "WG_TUN_NAME_FILE" << QString() << QByteArray("WG_TUN_NAME_FILE");
        QTest::newRow("missing runtime directory")
            << "WG_TUN_NAME_FILE" << QStringLiteral("/nonexistent/amn0.name")
            << QByteArray("does not exist");
        QTest::newRow("failing interface hook")
            << "TARVEX_TUNNEL_HOOK" << QStringLiteral("/bin/false")
            << QByteArray("interface hook failed");
    }

    void refusesToStart()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(QByteArray, message);
        QCOMPARE(startTunnel(variable, value), QString());
        QTRY_COMPARE(program.state(), QProcess::NotRunning);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardError().contains(message));
        QVERIFY(!QFile::exists(path("amn0.name")));
        QVERIFY(!QFile::exists(path("utun0.sock")));
    }
};

QTEST_GUILESS_MAIN(TestAmneziawgStandIn)
#include "tst_amneziawg_standin.moc"
