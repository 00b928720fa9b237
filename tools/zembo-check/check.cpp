#include "tools/zembo-check/check.h"

#include "platform/files.h"
#include "update/session.h"

#include <algorithm>

namespace {

QList<TFileCheck> ArquivosListados(const TUpdatePlan& plan)
{
    QList<TFileCheck> files;
    for (const TPlanItem& item : plan.Items) {
        if (item.Decision == fdSemItem)
            continue;
        // a refused name is not looked up: it may point outside the folder
        files.append({item, item.Decision == fdRecusado ? std::nullopt : FileAge(item.Name)});
    }
    return files;
}

// A name the run never writes is never looked up: it may point outside the folder.
bool Instalado(const TManifestEntry& entry)
{
    return entry.Name != DllsEntry && MotivoRecusa(entry.Name).isEmpty();
}

} // namespace

QList<TReleaseFileCheck> ConfereArquivos(const TManifest& manifest)
{
    QList<TReleaseFileCheck> files;
    for (const TManifestEntry& entry : manifest.Files)
        if (Instalado(entry))
            files.append({entry.Name, FileDifference(entry, entry.Name)});
    return files;
}

ECheckFailed::ECheckFailed(const TCheckFailure& failure) : Exception(failure.Message), FKind(failure.Kind) {}

bool TCheckReport::Pending() const
{
    // a refused name is work too: the run would end with an error
    const bool files = std::any_of(Files.begin(), Files.end(), [](const TFileCheck& f) {
        return f.Item.Decision == fdBaixar || f.Item.Decision == fdRecusado;
    });
    const bool scripts = std::any_of(Aliases.begin(), Aliases.end(),
                                     [](const TAliasCheck& a) { return !a.Plan.Scripts.isEmpty(); });
    return files || Replacement || scripts;
}

namespace {

void Start(TUpdateSession& session, TUpdateSession::TStart start)
{
    if (const std::optional<TRefusal> refusal = session.Inicia(start)) {
        if (refusal->Check)
            throw ECheckFailed(*refusal->Check);
        throw Exception(refusal->Message);
    }
}

} // namespace

QList<std::pair<QString, THistoryReport>> HistoricoDasBases()
{
    TSessionObserver silent;
    TUpdateSession session(silent, QString());
    Start(session, TUpdateSession::stHistoryOnly);
    QList<std::pair<QString, THistoryReport>> reports;
    for (const QString& alias : session.Aliases())
        reports.append({alias, session.HistoricoDaBase(alias)});
    return reports;
}

TCheckReport VerificaAtualizacao()
{
    TSessionObserver silent;
    TUpdateSession session(silent, QString()); // looks only: writes no log
    Start(session, TUpdateSession::stLookOnly);
    TCheckReport report;
    const TUpdatePlan plan = session.PlanoDosArquivos(&report.Release);
    report.Files = ArquivosListados(plan);
    if (report.Release)
        report.ReleaseFiles = ConfereArquivos(report.Release->Manifest);
    report.Replacement = plan.ReplacementExpected();
    report.ReplacementPending = SubstituicaoPendente();
    for (const QString& alias : session.Aliases())
        report.Aliases.append({alias, session.PlanoDaBase(alias)});
    return report;
}
