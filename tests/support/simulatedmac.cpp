#include "simulatedmac.h"

#include "macsimulator.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

SimulatedMac::SimulatedMac(const QByteArray &hosts)
{
    MacSimulator::run(QStringLiteral("tarvex-macos"),
                      {QStringLiteral("--state"), stateDirectory(), QStringLiteral("seed")}, {});
    QFile file(hostsFile());
    if (file.open(QIODevice::WriteOnly))
        file.write(hosts);
    qputenv("TARVEX_SIM_STATE", QFile::encodeName(stateDirectory()));
    qputenv("TARVEX_STATE_DIR", QFile::encodeName(path(QStringLiteral("journal"))));
}

SimulatedMac::~SimulatedMac()
{
    qunsetenv("TARVEX_SIM_STATE");
    qunsetenv("TARVEX_STATE_DIR");
}

QString SimulatedMac::dump(const QString &kind) const
{
    const QString text =
        MacSimulator::run(QStringLiteral("tarvex-macos"),
                          {QStringLiteral("--state"), stateDirectory(), QStringLiteral("dump")}, {})
            .standardOutput;
    if (kind.isEmpty())
        return text;
    return text.split(QLatin1Char('\n')).filter(QRegularExpression('^' + kind + ' ')).join('\n');
}

QByteArray SimulatedMac::hosts() const
{
    QFile file(hostsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList SimulatedMac::commands() const
{
    QFile log(QDir(stateDirectory()).filePath(QStringLiteral("log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SimulatedMac::setKnobs(const QStringList &rules) const
{
    QFile file(QDir(stateDirectory()).filePath(QStringLiteral("knobs")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(rules.join(QLatin1Char('\n')).toUtf8() + '\n');
}
