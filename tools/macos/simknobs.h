#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Rules that make chosen stand-in invocations fail, hang, crash or reply with a fixed
// text, read from the state directory's "knobs" file and from TARVEX_SIM_KNOBS. The rule
// syntax is described in this folder's README.
class SimKnobs
{
public:
    enum Action { Fail, Reply, Hang, Crash };

    struct Rule
    {
        QString text;
        Action action = Fail;
        int nth = 0;
        int from = 0;
        int exitCode = -1; // -1: the action's default
        QString standardOutput;
        QString standardError;
        double seconds = 3600;
        QString program;
        QString pattern;
    };

    static bool parseRule(const QString &line, Rule *rule, QString *error);
    // Splits a list of rules at line feeds and at semicolons outside double quotes;
    // blank entries and "#" comments are dropped.
    static QStringList splitRules(const QString &text);

    // Counts this invocation against every matching rule (persisted in the state
    // directory's "knob-counts") and returns the first rule that fires. The caller holds
    // the state lock. False with a description when a rule cannot be read.
    static bool evaluate(const QString &stateDirectory, const QString &program,
                         const QStringList &arguments, std::optional<Rule> *firing, QString *error);

private:
    static bool matches(const Rule &rule, const QString &program, const QStringList &arguments);
};
