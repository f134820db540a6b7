// The control-plane block in /etc/hosts pinned into and removed from arbitrary file contents.
// The file is the user's: after pin and unpin, every line outside a well-formed block (a
// begin marker line followed by an end marker line, no other marker line between) is there
// byte for byte, in order, and nothing else but a final line feed the pin had to add. A file
// with a marker line outside any block is not changed at all.
//
// The backend is reached through TestableMacVpnBackend, the smallest seam there is today;
// this file is all that knows how.

#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "testablemacvpnbackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace {

const QByteArray Begin = "# BEGIN TARVEX_VPN_CLIENT";
const QByteArray End = "# END TARVEX_VPN_CLIENT";
const QStringList Addresses{QStringLiteral("198.51.100.7"), QStringLiteral("198.51.100.8"),
                            QStringLiteral("203.0.113.9")};

// The text with its well-formed blocks, each with the line feed after it, taken out; empty
// when a marker line belongs to no block.
std::optional<QByteArray> outsideBlocks(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    QList<bool> inBlock(lines.size(), false);
    qsizetype open = -1;
    bool stray = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray marker = lines.at(i).trimmed();
        if (marker == Begin) {
            stray = stray || open >= 0;
            open = i;
        } else if (marker == End) {
            stray = stray || open < 0;
            for (qsizetype j = open; open >= 0 && j <= i; ++j)
                inBlock[j] = true;
            open = -1;
        }
    }
    if (stray || open >= 0)
        return std::nullopt;
    QByteArray kept;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (inBlock.at(i))
            continue;
        kept += lines.at(i);
        if (i + 1 < lines.size())
            kept += '\n';
    }
    return kept;
}

QByteArray withFinalLineFeed(QByteArray text)
{
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    return text;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    FuzzEnvironment::require(file.open(QIODevice::ReadOnly), "the hosts file stays readable");
    return file.readAll();
}

struct Rig
{
    Rig()
    {
        // A RAM disk where there is one: the backend flushes the file and its journal.
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        directory = std::make_unique<QTemporaryDir>(base + QStringLiteral("/tarvex-hosts-XXXXXX"));
        FuzzEnvironment::require(directory->isValid(), "hosts file directory");
        backend.hostsFile = directory->filePath(QStringLiteral("hosts"));
        backend.journal.setDirectory(directory->filePath(QStringLiteral("state")));
    }

    std::unique_ptr<QTemporaryDir> directory;
    TestableMacVpnBackend backend;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Rig rig;
    FuzzInput input(data, size);
    QStringList addresses;
    for (int i = input.number(1, 3); i > 0; --i)
        addresses.append(Addresses.at(input.number(0, int(Addresses.size()) - 1)));
    const QByteArray before = input.remainingBytes();
    QFile file(rig.backend.hostsFile);
    FuzzEnvironment::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                                 file.write(before) == before.size(),
                             "the hosts file is written");
    file.close();

    // A file with a marker line outside any block is left as it is.
    const std::optional<QByteArray> outside = outsideBlocks(before);
    const QByteArray kept = outside ? withFinalLineFeed(*outside) : before;
    QByteArray block = Begin + '\n';
    for (const QString &address : addresses)
        block += address.toUtf8() + '\t' + rig.backend.controlPlaneHost().toUtf8() + '\n';
    block += End + '\n';

    rig.backend.pinControlPlaneHosts(addresses);
    const QByteArray pinned = readFile(rig.backend.hostsFile);
    FuzzEnvironment::require(pinned == (outside ? kept + block : before),
                             "pinning keeps every line outside a block and appends one block",
                             "before:\n" + before + "\npinned:\n" + pinned);

    rig.backend.unpinControlPlaneHosts();
    const QByteArray unpinned = readFile(rig.backend.hostsFile);
    FuzzEnvironment::require(unpinned == kept,
                             "unpinning gives back every line outside a block, byte for byte",
                             "before:\n" + before + "\nunpinned:\n" + unpinned);
    rig.backend.unpinControlPlaneHosts();
    FuzzEnvironment::require(readFile(rig.backend.hostsFile) == kept,
                             "unpinning twice changes nothing more");
    return 0;
}
