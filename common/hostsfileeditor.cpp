#include "hostsfileeditor.h"

#include <QByteArrayView>

namespace {

struct Blocks
{
    // [start, end) of each block: from the start of its begin line to the end of its end
    // line, the line feed after it excluded.
    QList<std::pair<qsizetype, qsizetype>> spans;
    QList<int> strayMarkerLines;
};

Blocks findBlocks(const QByteArray &content)
{
    Blocks found;
    qsizetype openStart = -1;
    int openLine = 0;
    qsizetype lineStart = 0;
    int lineNumber = 0;
    while (lineStart < content.size()) {
        ++lineNumber;
        qsizetype lineEnd = content.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = content.size();
        const QByteArrayView line =
            QByteArrayView(content).sliced(lineStart, lineEnd - lineStart).trimmed();
        if (line == HostsFileEditor::BeginMarker) {
            if (openStart >= 0)
                found.strayMarkerLines.append(openLine);
            openStart = lineStart;
            openLine = lineNumber;
        } else if (line == HostsFileEditor::EndMarker) {
            if (openStart >= 0)
                found.spans.append({openStart, lineEnd});
            else
                found.strayMarkerLines.append(lineNumber);
            openStart = -1;
        }
        lineStart = lineEnd + 1;
    }
    if (openStart >= 0)
        found.strayMarkerLines.append(openLine);
    return found;
}

// Each block goes together with the line feed that ends its end line: pinning added
// that line feed, so pin followed by unpin gives the file back byte for byte instead of
// leaving an empty line behind on every machine that ever connected. What is left ends
// with a line feed, so that a block can follow its last line.
QByteArray withoutBlocks(QByteArray content, const Blocks &found)
{
    for (auto it = found.spans.crbegin(); it != found.spans.crend(); ++it) {
        qsizetype end = it->second;
        if (end < content.size() && content.at(end) == '\n')
            ++end;
        content.remove(it->first, end - it->first);
    }
    if (!content.isEmpty() && !content.endsWith('\n'))
        content.append('\n');
    return content;
}

} // namespace

// A marker line that belongs to no block makes every block ambiguous: removing one could
// pair the stray marker with another and take the user's lines between them along at the
// next pin or unpin. Such a file is left as it is, blocks included.
HostsFileEditor::Edit HostsFileEditor::pin(const QByteArray &content, const QString &host,
                                           const QStringList &addresses)
{
    const Blocks found = findBlocks(content);
    Edit edit{content, found.strayMarkerLines.isEmpty(), found.strayMarkerLines};
    if (!edit.changed)
        return edit;
    // A block left by a daemon that died is replaced, not doubled. Everything else in the
    // file, empty lines and white space included, is the user's and stays as it is.
    QByteArray &text = edit.content;
    text = withoutBlocks(content, found);

    text += QByteArray(BeginMarker) + '\n';
    for (const QString &address : addresses)
        text += address.toUtf8() + '\t' + host.toUtf8() + '\n';
    text += QByteArray(EndMarker) + '\n';
    return edit;
}

HostsFileEditor::Edit HostsFileEditor::unpin(const QByteArray &content)
{
    const Blocks found = findBlocks(content);
    Edit edit{content, found.strayMarkerLines.isEmpty() && !found.spans.isEmpty(),
              found.strayMarkerLines};
    if (!edit.changed)
        return edit;
    QByteArray &text = edit.content;
    text = withoutBlocks(content, found);
    return edit;
}
