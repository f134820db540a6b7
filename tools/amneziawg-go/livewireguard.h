#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

// Live mode of the stand-in (TARVEX_AWG_LIVE=1, development sandbox only): Debian's
// wireguard-go runs as a child in the foreground on a real TUN interface of the chosen
// name and does the packet work; the stand-in keeps the amneziawg-go contract around it
// and passes plain WireGuard requests to wireguard-go's own UAPI socket.
class LiveWireGuard : public QObject
{
    Q_OBJECT

public:
    explicit LiveWireGuard(QObject *parent = nullptr);
    ~LiveWireGuard() override;

    // Starts "wireguard-go -f <name>" and waits until its UAPI socket accepts a
    // connection. False with the reason (wireguard-go's own message when it printed one).
    bool start(const QString &name, QString *error);

    // Ends wireguard-go (SIGTERM, then SIGKILL) and waits, so that its interface is gone
    // when this returns.
    void stop();

    // Sends one complete request (blank line included) to wireguard-go and returns its
    // reply up to and including the blank line; empty with the reason in *error when the
    // socket fails or wireguard-go does not answer in time.
    QByteArray forward(const QByteArray &request, QString *error) const;

    // wireguard-go's socket for the interface: /var/run/wireguard/<name>.sock, fixed in
    // wireguard-go (the sandbox gives /run/wireguard a private tmpfs).
    static QString socketPath(const QString &name);
    // True when the kernel of this network namespace already has a link of that name.
    static bool linkExists(const QString &name);

signals:
    // wireguard-go ended while nobody asked it to.
    void ended(const QString &reason);

private:
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);

    QProcess process;
    QString name;
    bool stopping = false;
};
