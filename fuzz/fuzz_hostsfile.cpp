// The control-plane block in /etc/hosts pinned into and removed from arbitrary file contents.
// The file is the user's: after pin and unpin, every line outside a well-formed block (a
// begin marker line followed by an end marker line, no other marker line between) is there
// byte for byte, in order, and nothing else but a final line feed the pin had to add. A file
// with a marker line outside any block is not changed at all.

#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "hostsfileeditor.h"

#include <optional>

namespace {

// Spelled out, not taken from the editor: a marker changed there is a finding here.
const QByteArray Begin = "# BEGIN TARVEX_VPN_CLIENT";
const QByteArray End = "# END TARVEX_VPN_CLIENT";
const QString Host = QStringLiteral("api.tarvex.test");
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    QStringList addresses;
    for (int i = input.number(1, 3); i > 0; --i)
        addresses.append(Addresses.at(input.number(0, int(Addresses.size()) - 1)));
    const QByteArray before = input.remainingBytes();

    // A file with a marker line outside any block is left as it is.
    const std::optional<QByteArray> outside = outsideBlocks(before);
    const QByteArray kept = outside ? withFinalLineFeed(*outside) : before;
    QByteArray block = Begin + '\n';
    for (const QString &address : addresses)
        block += address.toUtf8() + '\t' + Host.toUtf8() + '\n';
    block += End + '\n';

    const HostsFileEditor::Edit pinned = HostsFileEditor::pin(before, Host, addresses);
    FuzzEnvironment::require(pinned.changed == outside.has_value(),
                             "a file is pinned exactly when every marker line is in a block",
                             before);
    FuzzEnvironment::require(pinned.content == (outside ? kept + block : before),
                             "pinning keeps every line outside a block and appends one block",
                             "before:\n" + before + "\npinned:\n" + pinned.content);

    const HostsFileEditor::Edit unpinned = HostsFileEditor::unpin(pinned.content);
    FuzzEnvironment::require(unpinned.content == kept,
                             "unpinning gives back every line outside a block, byte for byte",
                             "before:\n" + before + "\nunpinned:\n" + unpinned.content);
    FuzzEnvironment::require(!HostsFileEditor::unpin(unpinned.content).changed,
                             "unpinning twice changes nothing more");
    // Unpinning the file as it was, without a pin first, keeps the same lines.
    const HostsFileEditor::Edit direct = HostsFileEditor::unpin(before);
    FuzzEnvironment::require(direct.content == (direct.changed ? kept : before),
                             "unpinning alone keeps every line outside a block",
                             "before:\n" + before + "\nunpinned:\n" + direct.content);
    return 0;
}
