#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

const QByteArray KeyA = QByteArray(64, 'a');
const QByteArray Peer = "set=1\npublic_key=" + QByteArray(64, 'b') + "\n";
const QByteArray Invalid = "errno=" + QByteArray::number(-EINVAL) + "\n\n";
const QByteArray Ok = "errno=0\n\n";

} // namespace

// The tunnel stand-in accepts and refuses what wireguard-go does, so that a request the
// backend's tests get through is one a real tunnel program takes too. Its start and its
// knobs are the backend's tests' own (tst_macvpnbackend_tunnel, the sandbox scenarios).
class TestAmneziawgStandIn : public QObject
{
    Q_OBJECT

private slots:
    void answersLikeWireguardGo_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        const auto peer = [](const QByteArray &line) {
            return Peer + line + "\n\n";
        };
        QTest::newRow("AmneziaWG keys, upper-case hex")
            << "set=1\nprivate_key=" + KeyA.toUpper() +
                   "\ns3=0\ns4=0\nh1=5-9\ni1=<b 0xf6ab>\ni2=\ni3=x\ni4=y\ni5=z\n\n"
            << Ok;
        QTest::newRow("unknown key") << QByteArray("set=1\nbogus=1\n\n") << Invalid;
        QTest::newRow("key too short") << "set=1\nprivate_key=" + KeyA.left(62) + "\n\n" << Invalid;
        QTest::newRow("device key after public_key") << peer("jc=4") << Invalid;
        QTest::newRow("IPv6 endpoint without brackets")
            << peer("endpoint=2001:db8::1:51820") << Invalid;
        QTest::newRow("allowed ip prefix too long") << peer("allowed_ip=10.0.0.0/33") << Invalid;
        QTest::newRow("keep-alive empty") << peer("persistent_keepalive_interval=") << Invalid;
        QTest::newRow("line without equals") << QByteArray("set=1\nprivate_key\n\n")
                                             << "errno=" + QByteArray::number(-EPROTO) + "\n\n";
    }

    void answersLikeWireguardGo()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WG_TUN_NAME_FILE", dir.filePath("amn0.name"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TARVEX_AMNEZIAWG_STANDIN), {"-f", "utun"});
        const auto cleanup = qScopeGuard([&] {
            program.kill();
            program.waitForFinished(3000);
        });
        const auto name = [&] {
            QFile file(dir.filePath("amn0.name"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(name(), QByteArray("utun0\n"));
        const auto exchange = [&](const QByteArray &text) {
            QLocalSocket socket;
            socket.connectToServer(dir.filePath("utun0.sock"));
            socket.waitForConnected(1000);
            socket.write(text);
            QByteArray answer;
            while (!answer.contains("\n\n") && socket.waitForReadyRead(1000))
                answer += socket.readAll();
            return answer;
        };
        QCOMPARE(exchange(request), reply);
        // Unlike wireguard-go, a refused request leaves nothing half applied.
        if (reply != Ok)
            QCOMPARE(exchange("get=1\n\n"), QByteArray("listen_port=0\nerrno=0\n\n"));
    }
};

QTEST_GUILESS_MAIN(TestAmneziawgStandIn)
#include "tst_amneziawg_standin.moc"
