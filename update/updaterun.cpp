#include "update/updaterun.h"

#include "platform/files.h"
#include "release/release.h"
#include "update/partial.h"

#include <QDateTime>
#include <QDir>

TUpdateRun::TUpdateRun(TReleaseSource& source, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop)
    : FSource(source), FObserver(observer), FProgr(std::move(progr)), FStop(stop)
{
    FSource.OnWait = [this] { FObserver.Waiting(); };
}

TUpdateRun::TUpdateRun(TIdFTP& ftp, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop)
    : FOwnSource(CriaFonteFtp(ftp)), FSource(*FOwnSource), FObserver(observer), FProgr(std::move(progr)), FStop(stop)
{
    FSource.OnWait = [this] { FObserver.Waiting(); };
}

TUpdateRun::~TUpdateRun()
{
    FSource.OnWait = nullptr;
}

void TUpdateRun::Conecta(const TConfiguracao& settings, const QString& password)
{
    CheckCancelled();
    try {
        FSource.Conecta(settings, password);
    } catch (const EUpdateConnectError&) {
        CheckCancelled();
        throw;
    }
}

void TUpdateRun::CheckCancelled() const
{
    if (FStop)
        throw EUpdateCancelled();
}

const TUpdatePlan& TUpdateRun::Planeja()
{
    QStringList lines;
    TUpdatePlan plan;
    try {
        plan = FSource.Planeja(FManifest, lines);
    } catch (const std::exception&) {
        CheckCancelled();
        throw;
    }
    CheckCancelled();
    FObserver.Listed(lines);
    FPlan = plan;
    if (FManifest && !FKeys.isEmpty() && FPlan.AnyToFetch()) {
        FDeltas.Load(Servidor(), *FManifest, FKeys);
        CheckCancelled();
        FObserver.DeltasRead(FDeltas.Problem());
        FDeltas.Annotate(FPlan);
    }
    FObserver.Planned(FPlan);
    return FPlan;
}

// What interrupted downloads left for files the server no longer lists, or
// left over a week ago, goes.
void TUpdateRun::LimpaParciais() const
{
    QStringList listed;
    for (const TPlanItem& item : FPlan.Items)
        if (item.Decision == fdBaixar)
            listed << item.Name;
    RemoveStalePartials(QDir::currentPath(), listed, QDateTime::currentDateTime());
}

void TUpdateRun::Sincroniza(const QString& mainExecutable)
{
    Planeja();
    Executa(mainExecutable);
}

// What the plan fetches, with the sizes Baixa holds each file to, so that a
// source may start several at once.
void TUpdateRun::Antecipa()
{
    QList<TFetchItem> files;
    for (const TPlanItem& item : FPlan.Items) {
        const TManifestEntry* entry = FManifest ? FManifest->Find(item.Name) : nullptr;
        if (item.Decision == fdBaixar)
            files.append({item.Name, entry ? entry->Size : item.ListedSize});
    }
    FSource.Antecipa(files);
}

void TUpdateRun::Executa(const QString& mainExecutable)
{
    LimpaParciais();
    DeleteFile(BuiltExecutable); // left by a run stopped before its replacement
    // Before the first change: killed anywhere from here to the new program
    // in place, the next run still replaces.
    if (FPlan.ReplacementExpected() && !SubstituicaoPendente())
        MarcaSubstituicaoPendente();
    Antecipa();
    for (int i = 0; i < FPlan.Items.size(); ++i) {
        CheckCancelled();
        const TPlanItem& item = FPlan.Items.at(i);
        if (item.Decision == fdSemItem)
            continue;
        FObserver.FileStarted(i, item.Name);
        if (item.Decision == fdRecusado) {
            FError = true;
            FObserver.FileFailed(i, QStringLiteral("Arquivo ") + item.Name + QStringLiteral(" recusado: ") + item.Reason +
                                        u'.');
            continue;
        }
        if (item.Decision == fdBaixar)
            Baixa(i);
    }
    CheckCancelled();
    if (FBuiltExecutable && FError)
        DeleteFile(BuiltExecutable); // the run replaces nothing after an error
    else if (FBuiltExecutable)
        DeleteFile(MainArchive); // an earlier release's: never to be unpacked over the new program
    if (FBuiltExecutable ? !FError : SubstituicaoNecessaria(FDownloaded, FError) && ArquivoConfere()) {
        const TSubstituicao replacement = SubstituiExecutavel(
            mainExecutable, FProgr,
            [this] {
                FObserver.Waiting();
                return !FStop;
            },
            FBuiltExecutable ? BuiltExecutable : QString());
        CheckCancelled();
        if (replacement.Failed) {
            FError = true;
            FObserver.ReplacementFailed(replacement.Message);
        } else {
            FObserver.Replaced(mainExecutable);
        }
    }
}

// The file's size feeds the counter and holds the download to its length.
// A signed release's manifest gives it, so the server cannot make the run
// read more than the release holds. Else the listing's own figure serves;
// SIZE is asked only of a fetched file the listing gave none for, so a run
// costs the server no command per file it already has. A refused SIZE reads
// as unknown (-1, shown as 4 294 967 295 bytes); a lost session or a stop
// request raises there and ends the run.
void TUpdateRun::Baixa(int index)
{
    const TPlanItem& item = FPlan.Items.at(index);
    FDownloaded = true;
    if (BaixaDelta(index))
        return;
    const TManifestEntry* entry = FManifest ? FManifest->Find(item.Name) : nullptr;
    const std::int64_t size = entry ? entry->Size : item.ListedSize >= 0 ? item.ListedSize : FSource.Tamanho(item.Name);
    FObserver.SizeKnown(std::uint32_t(size));
    TFetchedFileCheck check;
    if (entry) {
        check = [entry](const QString& file) {
            if (FileDifference(*entry, file))
                throw EReleaseError(QStringLiteral("Arquivo ") + entry->Name +
                                    QStringLiteral(" recusado: não confere com o manifesto assinado da versão "
                                                   "(tamanho ou SHA-256). A cópia anterior foi mantida."));
        };
    }
    try {
        FObserver.StateChanged(index, nsOrange);
        FSource.Baixa(item, size, check);
        FObserver.FileFetched(index);
        FObserver.StateChanged(index, nsGreen);
    } catch (const std::exception& error) {
        CheckCancelled();
        FError = true;
        FObserver.StateChanged(index, nsRed);
        FObserver.FileFailed(index, ErrorText(error));
    }
}

// A file of the delta folder; the caller removes what a failure leaves.
TServerFetch TUpdateRun::Servidor()
{
    return [this](const QString& serverName, const QString& localFile, std::int64_t maxBytes) {
        FSource.Fetch(serverName, localFile, maxBytes);
    };
}

bool TUpdateRun::BaixaDelta(int index)
{
    const TPlanItem& item = FPlan.Items.at(index);
    const TDeltaEntry* patch = item.DeltaSize >= 0 ? FDeltas.For(item.Name) : nullptr;
    if (!patch)
        return false;
    FObserver.SizeKnown(std::uint32_t(patch->PatchSize));
    FObserver.StateChanged(index, nsOrange);
    try {
        if (item.Name == MainArchive) {
            FDeltas.Build(Servidor(), *patch, BuiltExecutable);
            FBuiltExecutable = true;
        } else {
            FDeltas.Install(Servidor(), *patch, item);
        }
    } catch (const std::exception& error) {
        CheckCancelled();
        FObserver.DeltaFailed(index, ErrorText(error));
        return false;
    }
    const TManifestEntry* entry = FManifest->Find(item.Name);
    FObserver.FetchedByDelta(index, patch->PatchSize, entry ? entry->Size : patch->NewSize);
    FObserver.FileFetched(index);
    FObserver.StateChanged(index, nsGreen);
    return true;
}

bool TUpdateRun::ArquivoConfere()
{
    if (!FManifest)
        return true;
    const TManifestEntry* entry = FManifest->Find(MainArchive);
    if (entry && !FileDifference(*entry, MainArchive))
        return true;
    DeleteFile(MainArchive); // so the next run fetches it again
    FError = true;
    FObserver.ReplacementFailed(
        MensagemSubstituicao(MainExecutable, MainArchive + QStringLiteral(" não confere com o manifesto assinado da versão")));
    return false;
}

void TUpdateRun::Desconecta()
{
    FSource.Desconecta();
}

QString TextoFinal(bool failed, bool scriptFailed)
{
    if (failed && scriptFailed)
        return QStringLiteral("Atualização finalizada com erros, necessário contactar Belmora Sistemas.");
    if (failed)
        return QStringLiteral("Atualização finalizada com erros, feche os aplicativos e tente denovo.");
    return QStringLiteral("Atualização finalizada com sucesso.");
}
