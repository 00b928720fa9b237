#include "tools/zembo-check/check.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "ftp/idftp.h"
#include "platform/files.h"
#include "update/connections.h"

#include <algorithm>

namespace {

void Passa(const std::optional<TCheckFailure>& failure)
{
    if (failure)
        throw ECheckFailed(*failure);
}

// Connects as the run does, lists "keldarin" and judges each entry, then
// leaves the session in an orderly way.
TUpdatePlan PlanoDoServidor(const QString& progr)
{
    const TConfiguracao settings = LeConfiguracao();
    const QString password = SenhaFtp(settings);
    TIdFTP ftp;
    AjustaFtp(ftp);
    TUpdateObserver silent;
    TUpdateRun run(ftp, silent, progr);
    run.Conecta(settings, password);
    try {
        TUpdatePlan plan = run.Planeja();
        run.Desconecta();
        return plan;
    } catch (...) {
        run.Desconecta();
        throw;
    }
}

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

} // namespace

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

TCheckReport VerificaAtualizacao()
{
    QString progr, alias;
    Passa(VerificaProgramFiles(progr));
    Passa(VerificaArquivos(progr, alias));
    TDatabase catalogue;
    TIBDatabase customer;
    ConfiguraConexoes(catalogue, customer);
    Passa(VerificaBases(alias, catalogue, customer));

    TCheckReport report;
    const TUpdatePlan plan = PlanoDoServidor(progr);
    report.Files = ArquivosListados(plan);
    report.Replacement = plan.ReplacementExpected();
    TUpgradeRun upgrade(catalogue, customer);
    report.Aliases.append({alias, upgrade.Plan(alias)});
    return report;
}
