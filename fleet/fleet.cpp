#include "fleet/fleet.h"

#include "db/catalog.h"
#include "upgrade/upgraderun.h"

#include <QHash>
#include <algorithm>

namespace {

constexpr qint64 StuckSeconds = 3600;
constexpr int DaysCharted = 30;

// A run as its two rows tell it: the start, the end, or both.
struct TRun {
    std::optional<TRunEvent> Inicio;
    std::optional<TRunEvent> Fim;
    const TRunEvent& Any() const { return Inicio ? *Inicio : *Fim; }
    QDateTime Quando() const { return Any().Momento; }
};

QHash<QString, QList<TRun>> RunsByInstallation(const QList<TRunEvent>& events)
{
    QHash<QString, TRun> runs;
    for (const TRunEvent& e : events) {
        TRun& run = runs[e.Execucao];
        (e.Evento == RunEndEvent ? run.Fim : run.Inicio) = e;
    }
    QHash<QString, QList<TRun>> byInstallation;
    for (const TRun& run : std::as_const(runs))
        byInstallation[run.Any().Instalacao].append(run);
    for (QList<TRun>& list : byInstallation)
        std::sort(list.begin(), list.end(), [](const TRun& a, const TRun& b) { return a.Quando() < b.Quando(); });
    return byInstallation;
}

// The serial and VERSAO a run left: its end's, else what its start found.
void KnownState(const TRun& run, TInstallation& into)
{
    const std::optional<qint64> serial = run.Fim && run.Fim->SerieDepois ? run.Fim->SerieDepois
                                                                         : run.Any().SerieAntes;
    const QString versao = run.Fim && !run.Fim->VersaoDepois.isNull() ? run.Fim->VersaoDepois : run.Any().VersaoAntes;
    if (serial)
        into.Serie = serial;
    if (!versao.isNull())
        into.Versao = versao;
}

TInstallation Summarise(const QList<TRun>& runs, const QDateTime& now, int silentDays)
{
    const TRun& last = runs.last();
    TInstallation i;
    i.Instalacao = last.Any().Instalacao;
    i.Alias = last.Any().Alias;
    i.Maquina = last.Any().Maquina;
    i.Quando = last.Quando();
    i.Face = last.Any().Face;
    i.Resultado = last.Fim ? last.Fim->Resultado : RunInProgress;
    i.Causa = last.Fim ? last.Fim->Causa : QString();
    i.Execucoes = runs.size();
    for (const TRun& run : runs)
        KnownState(run, i);
    i.Falhando = last.Fim && last.Fim->Resultado != QLatin1String("sucesso");
    i.Travada = !last.Fim && last.Quando().secsTo(now) > StuckSeconds;
    i.Silenciosa = last.Quando().addDays(silentDays) < now;
    return i;
}

// Worse first: failing, stuck, silent, behind; then the longest unheard-of.
int Severity(const TInstallation& i)
{
    return (i.Falhando ? 8 : 0) + (i.Travada ? 4 : 0) + (i.Silenciosa ? 2 : 0) + (i.Atrasada ? 1 : 0);
}

void CountDays(const QList<TRunEvent>& events, TFleet& fleet)
{
    QHash<QString, bool> ended;
    for (const TRunEvent& e : events)
        if (e.Evento == RunEndEvent)
            ended[e.Execucao] = true;
    const QDate last = fleet.Agora.date();
    const QDate first = last.addDays(1 - DaysCharted);
    for (QDate d = first; d <= last; d = d.addDays(1))
        fleet.PorDia[d];
    for (const TRunEvent& e : events) {
        const QDate day = e.Momento.date();
        if (day < first || day > last)
            continue;
        if (e.Evento == RunEndEvent)
            ++fleet.PorDia[day][e.Resultado];
        else if (!ended.contains(e.Execucao))
            ++fleet.PorDia[day][RunInProgress];
    }
}

} // namespace

QStringList TInstallation::Sinais() const
{
    QStringList flags;
    if (Falhando)
        flags << QStringLiteral("falhando");
    if (Travada)
        flags << QStringLiteral("travada");
    if (Silenciosa)
        flags << QStringLiteral("silenciosa");
    if (Atrasada)
        flags << QStringLiteral("atrasada");
    return flags;
}

bool TFleet::TodasEmDia() const
{
    return std::all_of(Instalacoes.begin(), Instalacoes.end(), [](const TInstallation& i) { return i.EmDia(); });
}

int TFleet::Contagem(bool (*flag)(const TInstallation&)) const
{
    return int(std::count_if(Instalacoes.begin(), Instalacoes.end(), flag));
}

TFleet JulgaFrota(const QList<TRunEvent>& events, const QString& newestScript, const QDateTime& now, int silentDays)
{
    TFleet fleet;
    fleet.Agora = now.toUTC();
    fleet.Dias = silentDays;
    fleet.VersaoMaisNova = newestScript;
    const QHash<QString, QList<TRun>> runs = RunsByInstallation(events);
    for (const QList<TRun>& list : runs)
        fleet.Instalacoes.append(Summarise(list, fleet.Agora, silentDays));
    for (const TInstallation& i : std::as_const(fleet.Instalacoes))
        if (i.Serie && (!fleet.SerieMaisNova || *i.Serie > *fleet.SerieMaisNova))
            fleet.SerieMaisNova = i.Serie;
    for (TInstallation& i : fleet.Instalacoes) {
        const bool olderSerial = fleet.SerieMaisNova && (!i.Serie || *i.Serie < *fleet.SerieMaisNova);
        const bool olderVersion = !newestScript.isEmpty() && i.Versao < newestScript;
        i.Atrasada = olderSerial || olderVersion;
    }
    std::sort(fleet.Instalacoes.begin(), fleet.Instalacoes.end(), [](const TInstallation& a, const TInstallation& b) {
        if (Severity(a) != Severity(b))
            return Severity(a) > Severity(b);
        if (a.Quando != b.Quando)
            return a.Quando < b.Quando;
        return a.Instalacao < b.Instalacao;
    });
    CountDays(events, fleet);
    return fleet;
}

QString VersaoMaisNovaLiberada(const QString& catalogue)
{
    TQuery query;
    query.SetDatabaseName(catalogue);
    query.SetSQL({QStringLiteral("SELECT versao FROM scripts WHERE programa = ? AND liberado = 'S'")});
    query.SetBindValues({ScriptsProgram});
    query.Open();
    QString newest;
    for (; !query.Eof(); query.Next())
        newest = std::max(newest, query.FieldByName(QStringLiteral("versao")).AsString());
    return newest;
}
