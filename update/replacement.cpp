#include "update/replacement.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "update/checks.h"
#include "update/names.h"
#include "update/plan.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>

namespace {

const QString CatalogueName = QStringLiteral("Sistema_my");

TPauseFunction& Pause()
{
    static TPauseFunction pause;
    return pause;
}

// False when keepWaiting asked to stop during the pause.
bool Pausa(int milliseconds, const TKeepWaiting& keepWaiting)
{
    if (Pause()) {
        Pause()(milliseconds);
        return !keepWaiting || keepWaiting();
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QThread::msleep(ulong(std::min<qint64>(50, milliseconds - clock.elapsed())));
        if (keepWaiting && !keepWaiting())
            return false;
    }
    return true;
}

// The text up to and including the last separator of either kind.
QString FolderPart(const QString& path)
{
    const qsizetype sep = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.left(sep + 1);
}

} // namespace

void SetPauseFunction(TPauseFunction pause)
{
    Pause() = std::move(pause);
}

QString LinhaDeComando(const QString& progr, const QString& destination)
{
    return QDir::toNativeSeparators(ArchiverPath(progr)) + QStringLiteral(" x -o+ ") + MainArchive +
           QStringLiteral(" *.exe \"") + destination + u'"';
}

// A link in the staging folder's place, or inside it, goes as a link: what
// it names is never emptied.
bool LimpaExtracao()
{
    return RemoveTree(StagingFolder);
}

namespace {

// Why the archiver's work cannot be used, or empty when it can.
QString MotivoFalhaExtracao(const TProcessResult& result, const QString& staged)
{
    switch (result.End) {
    case peNotStarted:
        return QStringLiteral("o descompactador não pôde ser iniciado (") + result.Error + u')';
    case peCrashed:
        return QStringLiteral("o descompactador terminou de forma anormal");
    case peTimedOut:
        return QStringLiteral("o descompactador não terminou em %1 segundos").arg(ArchiverTimeoutMs / 1000);
    case peStopped:
        return QStringLiteral("a atualização foi interrompida");
    case peExited:
        break;
    }
    if (result.ExitCode != 0)
        return QStringLiteral("o descompactador terminou com o código %1 (arquivo %2 danificado ou disco cheio?)")
            .arg(result.ExitCode)
            .arg(MainArchive);
    if (QFileInfo(staged).size() <= 0)
        return MainArchive + QStringLiteral(" não trouxe o ") + MainExecutable;
    return {};
}

// Every file the archiver left in the staging folder, renamed to its place
// in the installation folder (an existing file is replaced in one step).
QString MoveStagedFiles(const QString& folder)
{
    if (IsLink(StagingFolder)) // swapped while the archiver ran: its files are not ours
        return QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" foi trocada por um link");
    const QDir staging(QDir::current().absoluteFilePath(StagingFolder));
    QDirIterator it(staging.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = folder + staging.relativeFilePath(from);
        if (const QString failed = ReplaceFile(from, to); !failed.isEmpty())
            return QStringLiteral("não foi possível colocar ") + to + QStringLiteral(" no lugar (") + failed + u')';
    }
    return {};
}

// The previous program back in place, the staging folder and the archive gone.
void DesfazSubstituicao(const QString& mainExecutable, const QString& backup)
{
    if (IsLink(mainExecutable)) // not the program: a link planted in its place goes as a link
        DeleteFile(mainExecutable);
    if (!FileExists(mainExecutable) && FileExists(backup))
        CopyFileNoOverwrite(backup, mainExecutable); // written aside and renamed: never half a program
    LimpaExtracao();
    DeleteFile(MainArchive); // so the next run fetches it again
}

} // namespace

QString MensagemSubstituicao(const QString& mainExecutable, const QString& cause)
{
    return QStringLiteral("Não foi possível substituir ") + mainExecutable + QStringLiteral(": ") + cause +
           QStringLiteral(". O programa anterior foi mantido.");
}

TSubstituicao SubstituiExecutavel(const QString& mainExecutable, const QString& progr, const TKeepWaiting& keepWaiting,
                                  const QString& builtExecutable)
{
    TSubstituicao result;
    const QString folder = FolderPart(mainExecutable);
    const QString backup = folder + MainBackup;
    const auto fail = [&](const QString& cause) {
        DesfazSubstituicao(mainExecutable, backup);
        if (!builtExecutable.isEmpty())
            DeleteFile(builtExecutable);
        result.Failed = true;
        result.Message = MensagemSubstituicao(mainExecutable, cause);
        return result;
    };
    const auto stop = [&] {
        DesfazSubstituicao(mainExecutable, backup);
        result.Cancelled = true;
        return result;
    };
    if (!LimpaExtracao())
        return fail(QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" não pôde ser esvaziada"));
    if (FileExists(mainExecutable)) {
        // The program is only deleted once a whole copy of it is kept.
        DeleteFile(backup);
        if (!CopyFileNoOverwrite(mainExecutable, backup))
            return fail(QStringLiteral("a cópia de segurança ") + backup + QStringLiteral(" não pôde ser criada"));
        DeleteFile(mainExecutable);
    }
    while (FileExists(mainExecutable) && result.Pauses < 5) {
        const bool goOn = Pausa(1000, keepWaiting);
        ++result.Pauses;
        if (!goOn)
            return stop();
    }
    if (FileExists(mainExecutable)) {
        result.Failed = true;
        result.Message = QStringLiteral("Não foi possível apagar arquivo ") + mainExecutable + u'.';
        LimpaExtracao();
        DeleteFile(MainArchive); // so the next run fetches it again
        return result;
    }
    if (!QDir().mkdir(StagingFolder)) // made new here, so never a link
        return fail(QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" não pôde ser criada"));
    const QString staged = StagingFolder + u'/' + QFileInfo(mainExecutable).fileName();
    QString cause;
    if (!builtExecutable.isEmpty()) {
        if (const QString failed = ReplaceFile(builtExecutable, staged); !failed.isEmpty())
            cause = QStringLiteral("o programa refeito pelo delta não pôde ser preparado (") + failed + u')';
    } else {
        result.CommandLine = LinhaDeComando(progr, StagingFolder + QDir::separator());
        const TProcessResult archiver = RunProcess(FromAnsi(ToAnsi(result.CommandLine)), QDir::currentPath(),
                                                   ArchiverTimeoutMs, keepWaiting);
        if (archiver.End == peStopped)
            return stop();
        cause = MotivoFalhaExtracao(archiver, staged);
    }
    if (cause.isEmpty())
        cause = MoveStagedFiles(folder);
    if (!cause.isEmpty())
        return fail(cause);
    LimpaExtracao();
    DeleteFile(folder + PendingReplacementFile);
    return result;
}
