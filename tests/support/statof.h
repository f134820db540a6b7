#pragma once

#include <QFile>

#include <sys/stat.h>

// What the file system says of a path itself (a link's own status, not its target's); all
// zero when there is nothing.
inline struct stat statOf(const QString &path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}
