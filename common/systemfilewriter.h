#pragma once

#include <QByteArray>
#include <QString>

// Replaces the content of a system file (the hosts file) so that it keeps its owner,
// group and full mode: atomically where the file system allows it, by a temporary file
// flushed to disk and renamed over the original, so that a crash or a full disk leaves
// either the old or the new file. Where the file may change but cannot be replaced (its
// directory is not writable, the owner cannot be kept, the path is a mount point) it is
// rewritten in place. A file that may not change at all, such as a read-only one in a
// writable directory, is left alone.
class SystemFileWriter
{
public:
    SystemFileWriter() = delete;

    enum class Result { Replaced, RewrittenInPlace, Failed };

    // error holds why it failed, or why the file could not be replaced.
    static Result write(const QString &path, const QByteArray &data, QString *error);
};
