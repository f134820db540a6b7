#pragma once

#include <QString>
#include <QStringList>

// The simulated Mac as a library: the five macOS commands the daemon runs and the control
// tool, each invocation on a state directory exactly as the stand-in program runs it
// (tarvex-macos is a thin main over this). Tests run the commands in-process through it.
class MacSimulator
{
public:
    MacSimulator() = delete;

    // What a knob that hangs a command does: the program sleeps as told; in-process the
    // run is reported as hung at once, for the caller to treat as its time-out.
    enum class Hang { Sleep, Report };

    struct Run
    {
        int exitCode = 0;
        QString standardOutput;
        QString standardError;
        bool crashed = false; // a knob made it crash; the program raises SIGSEGV
        bool hung = false;    // Hang::Report only: the command never ran
    };

    // Runs program ("/sbin/route", "route", "tarvex-macos"; its file name picks the role)
    // with the arguments on the state directory (the stand-ins' TARVEX_SIM_STATE; the
    // control tool takes its own from --state or the environment). The invocation is
    // logged and the knobs applied first, as for the stand-in programs.
    static Run run(const QString &program, const QStringList &arguments,
                   const QString &stateDirectory, Hang hang = Hang::Report);
};
