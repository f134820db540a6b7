#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The daemon's block in a hosts file, between a begin and an end marker line, as bytes:
// whatever the file holds besides the block (text in another encoding than UTF-8, CRLF
// line ends) is none of ours and comes back unchanged. Only a begin line followed by an
// end line, with no other marker line between them, is a block this program wrote; in a
// file with a marker line that belongs to no such pair no block can be told for sure, and
// neither pin nor unpin changes it.
class HostsFileEditor
{
public:
    HostsFileEditor() = delete;

    static constexpr char BeginMarker[] = "# BEGIN TARVEX_VPN_CLIENT";
    static constexpr char EndMarker[] = "# END TARVEX_VPN_CLIENT";

    struct Edit
    {
        QByteArray content;
        bool changed = false;
        QList<int> strayMarkerLines; // 1-based, in the content given
    };

    // The content with any blocks left behind removed and one block appended that maps
    // each address to host; unchanged (changed false) when a marker line is stray.
    static Edit pin(const QByteArray &content, const QString &host, const QStringList &addresses);
    // The content without its blocks; unchanged (changed false) when it has none or a
    // marker line is stray.
    static Edit unpin(const QByteArray &content);
};
