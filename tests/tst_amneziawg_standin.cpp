#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

const QString StandIn = QStringLiteral(TARVEX_AMNEZIAWG_STANDIN);
const QByteArray KeyA = QByteArray(64, 'a');
const QByteArray KeyB = QByteArray(64, 'b');
const QByteArray Invalid = "errno=" + QByteArray::number(-EINVAL) + "\n\n";
const QByteArray Ok = "errno=0\n\n";

// Reads one reply (up to its blank line) or whatever came before the peer hung up.
QByteArray readReply(QLocalSocket &socket)
{
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (!reply.contains("\n\n") && timer.elapsed() < 3000) {
        if (!socket.waitForReadyRead(100) && socket.state() != QLocalSocket::ConnectedState)
            break;
        reply += socket.readAll();
    }
    return reply + socket.readAll();
}

} // namespace

class TestAmneziawgStandIn : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QProcess program;

    QString path(const QString &name) const { return dir->filePath(name); }

    void start(const QStringList &arguments = {"-f", "utun"},
               const QMap<QString, QString> &environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WG_TUN_NAME_FILE", path("amn0.name"));
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            env.insert(it.key(), it.value());
        program.setProcessEnvironment(env);
        program.start(StandIn, arguments);
        QVERIFY(program.waitForStarted(5000));
    }

    // The interface name once it is in the name file, or empty.
    QString waitForName()
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000 && program.state() == QProcess::Running) {
            QFile file(path("amn0.name"));
            if (file.open(QIODevice::ReadOnly)) {
                const QString name = QString::fromLocal8Bit(file.readLine()).trimmed();
                if (!name.isEmpty())
                    return name;
            }
            QTest::qWait(10);
        }
        return {};
    }

    QByteArray exchange(const QByteArray &request, const QString &name = QStringLiteral("utun0"))
    {
        QLocalSocket socket;
        socket.connectToServer(path(name + ".sock"));
        if (!socket.waitForConnected(1000))
            return "no connection";
        socket.write(request);
        socket.waitForBytesWritten(1000);
        return readReply(socket);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void cleanup()
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(3000);
        }
        dir.reset();
    }

    void setValidation_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");

        const QByteArray peer = "public_key=" + KeyB + "\n";
        QTest::newRow("complete AmneziaWG configuration")
            << "set=1\nprivate_key=" + KeyA +
                   "\nreplace_peers=true\njc=4\njmin=40\njmax=70\ns1=15\ns2=91\ns3=0\ns4=0\n"
                   "h1=1\nh2=2\nh3=3\nh4=4\ni1=<b 0xf6ab>\ni2=\ni3=x\ni4=y\ni5=z\n" +
                   peer + "preshared_key=" + KeyA +
                   "\nendpoint=198.51.100.10:51820\nreplace_allowed_ips=true\n"
                   "persistent_keepalive_interval=25\nallowed_ip=0.0.0.0/0\nallowed_ip=::/0\n\n"
            << Ok;
        QTest::newRow("empty set") << QByteArray("set=1\n\n") << Ok;
        QTest::newRow("upper-case hex key") << "set=1\nprivate_key=" + KeyA.toUpper() + "\n\n"
                                            << Ok;
        QTest::newRow("header range") << QByteArray("set=1\nh1=5-9\n\n") << Ok;
        QTest::newRow("bracketed ipv6 endpoint")
            << "set=1\n" + peer + "endpoint=[2001:db8::1]:443\n\n"
            << Ok;

        QTest::newRow("unknown interface key") << QByteArray("set=1\nbogus=1\n\n") << Invalid;
        QTest::newRow("key too short") << "set=1\nprivate_key=" + KeyA.left(62) + "\n\n" << Invalid;
        QTest::newRow("key not hex") << "set=1\nprivate_key=" + QByteArray(64, 'g') + "\n\n"
                                     << Invalid;
        QTest::newRow("empty key") << QByteArray("set=1\nprivate_key=\n\n") << Invalid;
        QTest::newRow("obfuscation after public_key") << "set=1\n" + peer + "jc=4\n\n" << Invalid;
        QTest::newRow("private key after public_key")
            << "set=1\n" + peer + "private_key=" + KeyA + "\n\n"
            << Invalid;
        QTest::newRow("jc not a number") << QByteArray("set=1\njc=four\n\n") << Invalid;
        QTest::newRow("jc negative") << QByteArray("set=1\njc=-1\n\n") << Invalid;
        QTest::newRow("header range reversed") << QByteArray("set=1\nh2=9-5\n\n") << Invalid;
        QTest::newRow("header beyond 32 bits") << QByteArray("set=1\nh3=4294967296\n\n") << Invalid;
        QTest::newRow("j1 is not a known key") << QByteArray("set=1\nj1=1\n\n") << Invalid;
        QTest::newRow("replace_peers false")
            << QByteArray("set=1\nreplace_peers=false\n\n") << Invalid;
        QTest::newRow("endpoint host name")
            << "set=1\n" + peer + "endpoint=vpn.example.net:51820\n\n"
            << Invalid;
        QTest::newRow("endpoint ipv6 without brackets")
            << "set=1\n" + peer + "endpoint=2001:db8::1:51820\n\n"
            << Invalid;
        QTest::newRow("endpoint without port") << "set=1\n" + peer + "endpoint=198.51.100.10\n\n"
                                               << Invalid;
        QTest::newRow("endpoint port too large")
            << "set=1\n" + peer + "endpoint=198.51.100.10:65536\n\n"
            << Invalid;
        QTest::newRow("allowed ip without prefix") << "set=1\n" + peer + "allowed_ip=10.0.0.1\n\n"
                                                   << Invalid;
        QTest::newRow("allowed ip prefix too long")
            << "set=1\n" + peer + "allowed_ip=10.0.0.0/33\n\n"
            << Invalid;
        QTest::newRow("allowed ipv6 prefix too long") << "set=1\n" + peer + "allowed_ip=::/129\n\n"
                                                      << Invalid;
        QTest::newRow("keep-alive empty") << "set=1\n" + peer + "persistent_keepalive_interval=\n\n"
                                          << Invalid;
        QTest::newRow("keep-alive too large")
            << "set=1\n" + peer + "persistent_keepalive_interval=65536\n\n"
            << Invalid;
        QTest::newRow("carriage return in a value")
            << "set=1\n" + peer + "endpoint=198.51.100.10:1\r\n\n"
            << Invalid;
        QTest::newRow("line without equals") << QByteArray("set=1\nprivate_key\n\n")
                                             << "errno=" + QByteArray::number(-EPROTO) + "\n\n";
        QTest::newRow("get with a body") << QByteArray("get=1\nlisten_port=1\n\n") << Invalid;
    }

    void setValidation()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QCOMPARE(exchange(request), reply);
    }

    void refusedRequestChangesNothing()
    {
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QCOMPARE(exchange("set=1\nlisten_port=7\n\n"), Ok);
        const QByteArray before = exchange("get=1\n\n");
        QCOMPARE(exchange("set=1\nlisten_port=9\npublic_key=" + KeyB + "\nallowed_ip=x\n\n"),
                 Invalid);
        QCOMPARE(exchange("get=1\n\n"), before);
        QVERIFY(before.startsWith("listen_port=7\n"));
    }

    void getReportsAndRecordKeepsConfiguration()
    {
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        const QByteArray request = "set=1\nprivate_key=" + KeyA +
                                   "\nreplace_peers=true\njc=4\n"
                                   "public_key=" +
                                   KeyB +
                                   "\nendpoint=203.0.113.1:51820\n"
                                   "replace_allowed_ips=true\npersistent_keepalive_interval=25\n"
                                   "allowed_ip=10.0.0.0/8\n\n";
        QCOMPARE(exchange(request), Ok);

        // A private key is reported clamped, as WireGuard stores it.
        const QByteArray clampedKey = "a8" + QByteArray(60, 'a') + "6a";
        QCOMPARE(exchange("get=1\n\n"),
                 "private_key=" + clampedKey + "\nlisten_port=0\njc=4\npublic_key=" + KeyB +
                     "\npreshared_key=" + QByteArray(64, '0') +
                     "\nprotocol_version=1\nendpoint=203.0.113.1:51820\n"
                     "last_handshake_time_sec=0\nlast_handshake_time_nsec=0\ntx_bytes=0\n"
                     "rx_bytes=0\npersistent_keepalive_interval=25\nallowed_ip=10.0.0.0/8\n"
                     "errno=0\n\n");

        QFile sent(path("utun0.request"));
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QCOMPARE(sent.readAll(), request);
        QCOMPARE(sent.permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

        QFile recordFile(path("utun0.json"));
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        QCOMPARE(record.value("interface").toString(), QStringLiteral("utun0"));
        QCOMPARE(record.value("applied").toInt(), 1);
        const QJsonObject config = record.value("config").toObject();
        QCOMPARE(config.value("obfuscation").toObject(), QJsonObject({{"jc", "4"}}));
        const QJsonObject peer = config.value("peers").toArray().at(0).toObject();
        QCOMPARE(peer.value("allowed_ips").toArray(), QJsonArray({"10.0.0.0/8"}));
        QCOMPARE(peer.value("public_key").toString(), QString::fromLatin1(KeyB));
    }

    void connectionServesSeveralRequests()
    {
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QLocalSocket socket;
        socket.connectToServer(path("utun0.sock"));
        QVERIFY(socket.waitForConnected(1000));
        socket.write("set=1\nlisten_port=5\n\nget=1\n\n");
        QByteArray replies;
        QElapsedTimer timer;
        timer.start();
        while (replies.count("errno=") < 2 && timer.elapsed() < 3000) {
            socket.waitForReadyRead(100);
            replies += socket.readAll();
        }
        QCOMPARE(replies, QByteArray("errno=0\n\nlisten_port=5\nerrno=0\n\n"));
    }

    void unknownOperationHangsUp()
    {
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QCOMPARE(exchange("put=1\n\n"), QByteArray());
        QCOMPARE(exchange("get=1\n\n").right(9), Ok); // still serving others
    }

    void replyInPieces()
    {
        start({"-f", "utun"},
              {{"TARVEX_AWG_REPLY_CHUNK_BYTES", "3"}, {"TARVEX_AWG_REPLY_CHUNK_DELAY_MS", "30"}});
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QLocalSocket socket;
        socket.connectToServer(path("utun0.sock"));
        QVERIFY(socket.waitForConnected(1000));
        socket.write("set=1\n\n");
        QList<QByteArray> pieces;
        QElapsedTimer timer;
        timer.start();
        while (pieces.join().size() < Ok.size() && timer.elapsed() < 3000) {
            if (socket.waitForReadyRead(100))
                pieces.append(socket.readAll());
        }
        QCOMPARE(pieces.join(), Ok);
        QVERIFY2(pieces.size() >= 3, qPrintable(QString::number(pieces.size())));
    }

    void forcedErrno()
    {
        start({"-f", "utun"}, {{"TARVEX_AWG_SET_ERRNO", "-13"}});
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QCOMPARE(exchange("set=1\nlisten_port=1\n\n"), QByteArray("errno=-13\n\n"));
        QCOMPARE(exchange("get=1\n\n"), QByteArray("listen_port=0\nerrno=0\n\n"));
    }

    void takenNamesSkipped()
    {
        QFile taken(path("utun0.sock"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        start();
        QCOMPARE(waitForName(), QStringLiteral("utun1"));
        QCOMPARE(exchange("get=1\n\n", "utun1"), QByteArray("listen_port=0\nerrno=0\n\n"));
    }

    void sigtermEndsAndRunsHook()
    {
        QFile hook(path("hook.sh"));
        QVERIFY(hook.open(QIODevice::WriteOnly));
        hook.write("#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/hook.log\"\n");
        hook.close();
        hook.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        start({"-f", "utun"}, {{"TARVEX_TUNNEL_HOOK", hook.fileName()}});
        QCOMPARE(waitForName(), QStringLiteral("utun0"));
        QFile log(path("hook.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("add utun0\n"));
        log.close();

        program.terminate();
        QVERIFY(program.waitForFinished(3000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFile::exists(path("utun0.sock")));
        QVERIFY(QFile::exists(path("amn0.name")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("add utun0\nremove utun0\n"));
    }

    void failingHookStopsStart()
    {
        start({"-f", "utun"}, {{"TARVEX_TUNNEL_HOOK", "/bin/false"}});
        QVERIFY(program.waitForFinished(3000));
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(!QFile::exists(path("amn0.name")));
        QVERIFY(!QFile::exists(path("utun0.sock")));
    }

    void refusesToStart_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("nameFile");
        QTest::addColumn<QByteArray>("message");

        QTest::newRow("background") << QStringList{"utun"} << "amn0.name" << QByteArray("-f");
        QTest::newRow("not a utun name")
            << QStringList{"-f", "wg0"} << "amn0.name" << QByteArray("Usage");
        QTest::newRow("no name file")
            << QStringList{"-f", "utun"} << "" << QByteArray("WG_TUN_NAME_FILE");
        QTest::newRow("missing runtime directory")
            << QStringList{"-f", "utun"} << "missing/amn0.name" << QByteArray("does not exist");
    }

    void refusesToStart()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, nameFile);
        QFETCH(QByteArray, message);
        start(arguments, {{"WG_TUN_NAME_FILE", nameFile.isEmpty() ? QString() : path(nameFile)}});
        QVERIFY(program.waitForFinished(3000));
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardError().contains(message));
    }
};

QTEST_GUILESS_MAIN(TestAmneziawgStandIn)
#include "tst_amneziawg_standin.moc"
