#pragma once

#include <QString>

// Text helpers shared by the invocation log, the state dump and the knobs.

// One word as a POSIX shell needs it: unchanged when it is plain, in single quotes
// otherwise, as $'...' with backslash escapes when it holds control characters, so a
// logged line can be pasted into bash and every line stays one line.
QString shellQuote(const QString &word);

// Name order with numbers compared by value: utun2 before utun10.
bool naturalLess(const QString &left, const QString &right);
