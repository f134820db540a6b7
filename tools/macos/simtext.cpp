#include "simtext.h"

#include <algorithm>

namespace {

bool isPlainCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           QStringLiteral("@%+=:,./_-").contains(c);
}

} // namespace

QString shellQuote(const QString &word)
{
    if (!word.isEmpty() && std::all_of(word.begin(), word.end(), isPlainCharacter))
        return word;

    const bool hasControl = std::any_of(word.begin(), word.end(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7f;
    });
    if (!hasControl) {
        QString quoted = word;
        quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
        return QLatin1Char('\'') + quoted + QLatin1Char('\'');
    }

    QString quoted = QStringLiteral("$'");
    for (const QChar c : word) {
        switch (c.unicode()) {
        case '\n':
            quoted += QLatin1String("\\n");
            break;
        case '\t':
            quoted += QLatin1String("\\t");
            break;
        case '\r':
            quoted += QLatin1String("\\r");
            break;
        case '\\':
            quoted += QLatin1String("\\\\");
            break;
        case '\'':
            quoted += QLatin1String("\\'");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                quoted += c;
        }
    }
    return quoted + QLatin1Char('\'');
}

bool naturalLess(const QString &left, const QString &right)
{
    int i = 0;
    int j = 0;
    while (i < left.size() && j < right.size()) {
        if (left[i].isDigit() && right[j].isDigit()) {
            int endLeft = i;
            int endRight = j;
            while (endLeft < left.size() && left[endLeft].isDigit())
                ++endLeft;
            while (endRight < right.size() && right[endRight].isDigit())
                ++endRight;
            const qulonglong a = left.mid(i, endLeft - i).toULongLong();
            const qulonglong b = right.mid(j, endRight - j).toULongLong();
            if (a != b)
                return a < b;
            i = endLeft;
            j = endRight;
            continue;
        }
        if (left[i] != right[j])
            return left[i] < right[j];
        ++i;
        ++j;
    }
    return left.size() - i < right.size() - j;
}
