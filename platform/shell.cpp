#include "platform/shell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

TShellOpenFunction& ShellOpenHook()
{
    static TShellOpenFunction f;
    return f;
}

TProcessStartFunction& ProcessStartHook()
{
    static TProcessStartFunction f;
    return f;
}

QStringList SplitArguments(const QString& text)
{
    QStringList args;
    QString current;
    bool inQuotes = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            inQuotes = !inQuotes;
            any = true;
        } else if ((c == u' ' || c == u'\t') && !inQuotes) {
            if (any)
                args.append(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        args.append(current);
    return args;
}

} // namespace

bool ShellOpen(const QString& address)
{
    if (ShellOpenHook())
        return ShellOpenHook()(address);
    return QProcess::startDetached(QStringLiteral("xdg-open"), {address});
}

void SetShellOpenFunction(TShellOpenFunction f)
{
    ShellOpenHook() = std::move(f);
}

QStringList SplitCommandLine(const QString& commandLine, const QString& workingFolder)
{
    const QString line = commandLine.trimmed();
    const QDir base(workingFolder.isEmpty() ? QDir::currentPath() : workingFolder);
    if (line.startsWith(u'"')) {
        const qsizetype end = line.indexOf(u'"', 1);
        const QString program = line.mid(1, end < 0 ? -1 : end - 1);
        QStringList result {QDir::cleanPath(base.absoluteFilePath(QDir::fromNativeSeparators(program)))};
        result += SplitArguments(end < 0 ? QString() : line.mid(end + 1));
        return result;
    }
    for (qsizetype pos = 0; pos <= line.size(); ++pos) {
        if (pos < line.size() && line.at(pos) != u' ')
            continue;
        const QString candidate = QDir::fromNativeSeparators(line.left(pos));
        const QFileInfo info(base.absoluteFilePath(candidate));
        if (info.isFile()) {
            QStringList result {QDir::cleanPath(info.absoluteFilePath())};
            result += SplitArguments(line.mid(pos));
            return result;
        }
    }
    return {};
}

bool StartProcess(const QString& commandLine, const QString& workingFolder)
{
    if (ProcessStartHook())
        return ProcessStartHook()(commandLine, workingFolder);
    QStringList parts = SplitCommandLine(commandLine, workingFolder);
    if (parts.isEmpty())
        return false;
    const QString program = parts.takeFirst();
    return QProcess::startDetached(program, parts, workingFolder);
}

void SetProcessStartFunction(TProcessStartFunction f)
{
    ProcessStartHook() = std::move(f);
}

namespace {

// A child that outlives an updater killed mid-replacement would go on
// writing into a folder the next run cleans: it dies with its parent.
void EndWithParent(QProcess& process)
{
#ifdef Q_OS_LINUX
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#else
    (void)process;
#endif
}

TProcessResult Ended(QProcess& process, TProcessEnd end)
{
    process.kill();
    process.waitForFinished(5000);
    return {end, -1, {}};
}

} // namespace

TProcessResult RunProcess(const QString& commandLine, const QString& workingFolder, int timeoutMs,
                          const std::function<bool()>& keepWaiting)
{
    QStringList parts = SplitCommandLine(commandLine, workingFolder);
    if (parts.isEmpty())
        return {peNotStarted, -1, QStringLiteral("O programa da linha de comando não existe.")};
    QProcess process;
    EndWithParent(process);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setWorkingDirectory(workingFolder);
    process.start(parts.takeFirst(), parts);
    if (!process.waitForStarted(10000))
        return {peNotStarted, -1, process.errorString()};
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(50)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (keepWaiting && !keepWaiting())
            return Ended(process, peStopped);
        if (clock.elapsed() >= timeoutMs)
            return Ended(process, peTimedOut);
    }
    if (process.exitStatus() == QProcess::CrashExit)
        return {peCrashed, -1, process.errorString()};
    return {peExited, process.exitCode(), {}};
}

bool StandardOutputIsTerminal()
{
    return isatty(1) != 0;
}
