#include "simknobs.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>

#include <fnmatch.h>

namespace {

const char KnobsFile[] = "knobs";
const char CountsFile[] = "knob-counts";

bool isKnownProgram(const QString &program)
{
    static const QStringList programs = {
        QStringLiteral("ifconfig"),    QStringLiteral("route"),   QStringLiteral("networksetup"),
        QStringLiteral("dscacheutil"), QStringLiteral("killall"), QStringLiteral("*"),
    };
    return programs.contains(program);
}

// Reads a double-quoted value starting at text[*pos] == '"'; understands \n, \t, \\ and \".
bool readQuoted(const QString &text, int *pos, QString *value)
{
    for (int i = *pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            *pos = i + 1;
            return true;
        }
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            if (next == QLatin1Char('n'))
                *value += QLatin1Char('\n');
            else if (next == QLatin1Char('t'))
                *value += QLatin1Char('\t');
            else
                *value += next;
            continue;
        }
        *value += c;
    }
    return false;
}

QString readWord(const QString &text, int *pos)
{
    const int start = *pos;
    while (*pos < text.size() && !text[*pos].isSpace())
        ++*pos;
    return text.mid(start, *pos - start);
}

void skipSpaces(const QString &text, int *pos)
{
    while (*pos < text.size() && text[*pos].isSpace())
        ++*pos;
}

bool isOptionStart(const QString &text, int pos)
{
    int i = pos;
    while (i < text.size() && text[i].isLower())
        ++i;
    return i > pos && i < text.size() && text[i] == QLatin1Char('=');
}

QMap<QString, int> readCounts(const QString &path)
{
    QMap<QString, int> counts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return counts;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        if (tab > 0)
            counts.insert(line.mid(tab + 1), line.left(tab).toInt());
    }
    return counts;
}

void writeCounts(const QString &path, const QMap<QString, int> &counts)
{
    QString text;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        text += QStringLiteral("%1\t%2\n").arg(it.value()).arg(it.key());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

} // namespace

bool SimKnobs::parseRule(const QString &line, Rule *rule, QString *error)
{
    const QString text = line.trimmed();
    *rule = Rule();
    rule->text = text;
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("bad knob \"%1\": %2").arg(text, why);
        return false;
    };

    int pos = 0;
    const QString action = readWord(text, &pos);
    if (action == QLatin1String("fail"))
        rule->action = Fail;
    else if (action == QLatin1String("reply"))
        rule->action = Reply;
    else if (action == QLatin1String("hang"))
        rule->action = Hang;
    else if (action == QLatin1String("crash"))
        rule->action = Crash;
    else
        return fail(QStringLiteral("unknown action \"%1\"").arg(action));

    for (skipSpaces(text, &pos); isOptionStart(text, pos); skipSpaces(text, &pos)) {
        const int equals = text.indexOf(QLatin1Char('='), pos);
        const QString key = text.mid(pos, equals - pos);
        pos = equals + 1;
        QString value;
        if (pos < text.size() && text[pos] == QLatin1Char('"')) {
            if (!readQuoted(text, &pos, &value))
                return fail(QStringLiteral("unterminated quote"));
        } else {
            value = readWord(text, &pos);
        }
        bool ok = true;
        if (key == QLatin1String("nth"))
            rule->nth = value.toInt(&ok);
        else if (key == QLatin1String("from"))
            rule->from = value.toInt(&ok);
        else if (key == QLatin1String("exit"))
            rule->exitCode = value.toInt(&ok);
        else if (key == QLatin1String("seconds"))
            rule->seconds = value.toDouble(&ok);
        else if (key == QLatin1String("stdout"))
            rule->standardOutput = value;
        else if (key == QLatin1String("stderr"))
            rule->standardError = value;
        else
            return fail(QStringLiteral("unknown option \"%1\"").arg(key));
        if (!ok || rule->nth < 0 || rule->from < 0 || rule->seconds < 0 || rule->exitCode > 255)
            return fail(QStringLiteral("bad value for %1").arg(key));
    }

    rule->program = readWord(text, &pos);
    if (!isKnownProgram(rule->program))
        return fail(QStringLiteral("unknown program \"%1\"").arg(rule->program));
    rule->pattern = text.mid(pos).trimmed();
    return true;
}

QStringList SimKnobs::splitRules(const QString &text)
{
    QStringList rules;
    QString current;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < text.size()) {
            current += c;
            current += text[++i];
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char('\n') || (!quoted && c == QLatin1Char(';'))) {
            rules.append(current);
            current.clear();
            quoted = false;
            continue;
        }
        current += c;
    }
    rules.append(current);

    QStringList kept;
    for (const QString &rule : std::as_const(rules)) {
        const QString trimmed = rule.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1Char('#')))
            kept.append(trimmed);
    }
    return kept;
}

bool SimKnobs::evaluate(const QString &stateDirectory, const QString &program,
                        const QStringList &arguments, std::optional<Rule> *firing, QString *error)
{
    firing->reset();
    QString text = qEnvironmentVariable("TARVEX_SIM_KNOBS");
    QFile file(stateDirectory + QLatin1Char('/') + QLatin1String(KnobsFile));
    if (file.open(QIODevice::ReadOnly))
        text += QLatin1Char('\n') + QString::fromUtf8(file.readAll());

    QList<Rule> rules;
    for (const QString &line : splitRules(text)) {
        Rule rule;
        if (!parseRule(line, &rule, error))
            return false;
        rules.append(rule);
    }
    if (rules.isEmpty())
        return true;

    const QString countsPath = stateDirectory + QLatin1Char('/') + QLatin1String(CountsFile);
    QMap<QString, int> counts = readCounts(countsPath);
    bool counted = false;
    for (const Rule &rule : std::as_const(rules)) {
        if (!matches(rule, program, arguments))
            continue;
        const int count = ++counts[rule.text];
        counted = true;
        const bool fires = rule.nth > 0 ? count == rule.nth : count >= rule.from;
        if (fires && !firing->has_value())
            *firing = rule;
    }
    if (counted)
        writeCounts(countsPath, counts);
    return true;
}

bool SimKnobs::matches(const Rule &rule, const QString &program, const QStringList &arguments)
{
    if (rule.program != QLatin1String("*") && rule.program != program)
        return false;
    if (rule.pattern.isEmpty())
        return true;
    const QByteArray pattern = rule.pattern.toUtf8();
    const QByteArray subject = arguments.join(QLatin1Char(' ')).toUtf8();
    return fnmatch(pattern.constData(), subject.constData(), 0) == 0;
}
