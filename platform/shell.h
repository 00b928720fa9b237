// Starting other programs: the shell's "open" of an address, and a detached
// process from a command line. Both go through replaceable functions so that
// tests can see what would be opened or started.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

using TShellOpenFunction = std::function<bool(const QString& address)>;
using TProcessStartFunction = std::function<bool(const QString& commandLine, const QString& workingFolder)>;

// "open" verb, no parameters, normal window. True when it was handed over.
bool ShellOpen(const QString& address);
void SetShellOpenFunction(TShellOpenFunction f); // empty restores the default

// Starts the command line as a new process with a normal window, in the
// given working folder, without waiting. True when the process started.
bool StartProcess(const QString& commandLine, const QString& workingFolder);
void SetProcessStartFunction(TProcessStartFunction f); // empty restores the default

// How a process that was waited for ended.
enum TProcessEnd {
    peExited,     // on its own; ExitCode says how
    peNotStarted, // the command line names no program, or it could not start
    peCrashed,    // ended by a signal of its own making
    peTimedOut,   // still running when the wait ran out: ended
    peStopped,    // the caller stopped waiting: ended
};

struct TProcessResult {
    TProcessEnd End = peNotStarted;
    int ExitCode = 0;
    QString Error; // the system's words when it did not start
};

// Starts the command line (read as StartProcess reads it) in the working
// folder and waits for it at most timeoutMs. keepWaiting runs about every
// 50 ms; when it answers false, or the wait runs out, the process is ended.
// The process is ended too if this program dies while it runs.
TProcessResult RunProcess(const QString& commandLine, const QString& workingFolder, int timeoutMs,
                          const std::function<bool()>& keepWaiting);

// How the system reads a command line: an unquoted program path may hold
// blanks, and the first blank-separated prefix naming an existing file is
// the program; the rest splits into arguments at blanks, double quotes
// grouping (a path holds no quotes, so a backslash before one is just part of
// the path, as in ".\"). Returns the program and its
// arguments, or an empty list when no program is found.
QStringList SplitCommandLine(const QString& commandLine, const QString& workingFolder);

// Whether standard output is a terminal (a progress line may rewrite itself
// there) rather than a file or a pipe.
bool StandardOutputIsTerminal();
