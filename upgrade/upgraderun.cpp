#include "upgrade/upgraderun.h"

#include "db/aliases.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "upgrade/backup.h"
#include "upgrade/ibscript.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>
#include <optional>

namespace {

const QString VersionCheck = QStringLiteral(
    "SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS where RDB$FIELD_NAME='VERSAO' AND RDB$RELATION_NAME='VERSAO'");

// The version a run starts from where VERSAO is missing: the row it creates.
const QString FirstVersion = QStringLiteral("0");

// The bar the positions are meant for.
constexpr int BarMinimum = 1;
constexpr int BarMaximum = 100;

// The version goes in as a value, never as text of the statement.
const QString ScriptCondition =
    QStringLiteral(" from scripts where programa=? and versao>? and liberado='S' order by versao");

// The row of one script, with its text.
const QString ScriptTextSelect =
    QStringLiteral("SELECT * FROM scripts WHERE programa = ? AND versao = ? ORDER BY programa, versao");

} // namespace

void TUpgradeObserver::Starting(const QString&, const QString&) {}
void TUpgradeObserver::Progress(int) {}
void TUpgradeObserver::ScriptFailed(const QString&, const QString&, const QStringList&) {}
void TUpgradeObserver::ScriptDone(const QString&, const QString&, bool) {}
void TUpgradeObserver::BackupMade(const QString&, const QString&) {}
QString TUpgradeObserver::ErrorFile() const
{
    return {};
}
void TUpgradeObserver::Finished(const TUpgradeOutcome&) {}

TUpgradeRun::TUpgradeRun(TDatabase& catalog, TIBDatabase& customer)
    : FCatalog(catalog), FCustomer(customer), FPendingCount(std::make_unique<TQuery>()),
      FPending(std::make_unique<TQuery>()), FScriptText(std::make_unique<TQuery>()),
      FScriptTransaction(std::make_unique<TIBTransaction>()), FVersionTransaction(std::make_unique<TIBTransaction>()),
      FVersionQuery(std::make_unique<TIBQuery>()), FScript(std::make_unique<TIBScript>()),
      FHistory(std::make_unique<TUpgradeHistory>(customer))
{
    const QString catalogName = FCatalog.DatabaseName();
    // The names the field errors of each query carry.
    FPendingCount->setObjectName(QStringLiteral("PendingCount"));
    FPendingCount->SetDatabaseName(catalogName);
    FPending->setObjectName(QStringLiteral("Pending"));
    FPending->SetDatabaseName(catalogName);
    FScriptText->setObjectName(QStringLiteral("ScriptText"));
    FScriptText->SetDatabaseName(catalogName);
    FScriptText->SetSQL({ScriptTextSelect});

    FCustomer.SetDefaultTransaction(FScriptTransaction.get());
    FVersionTransaction->SetDefaultDatabase(&FCustomer);

    FVersionQuery->setObjectName(QStringLiteral("VersionQuery"));
    FVersionQuery->SetDatabase(&FCustomer);
    FVersionQuery->SetTransaction(FVersionTransaction.get());

    FScript->SetDatabase(&FCustomer);
    FScript->SetTransaction(FScriptTransaction.get());
    FScript->SetTerminator(QStringLiteral(";"));
    FScript->SetOnParse([this](TIBParseKind kind, const QString&) {
        if (kind == stmtDDL || kind == stmtDML)
            ++FStatements;
    });
    FScript->SetOnParseError([this](const QString& error, const QString& sqlText, int) {
        FParseError = error;
        if (!sqlText.trimmed().isEmpty())
            FParseError += QLatin1Char('\n') + sqlText.trimmed();
    });
}

TUpgradeRun::~TUpgradeRun() = default;

TUpgradeOutcome TUpgradeRun::Run(const QStringList& aliases, TUpgradeObserver& observer)
{
    TUpgradeOutcome outcome;
    try {
        for (const QString& alias : aliases)
            UpgradeDatabase(QStringLiteral("M-") + alias, observer);
    } catch (const std::exception& error) {
        // Nothing the run left half-open may survive it: the next run starts
        // from a closed database.
        CloseAll();
        outcome = {false, ErrorText(error)};
    }
    FTipo.clear();
    observer.Finished(outcome);
    return outcome;
}

void TUpgradeRun::OpenCustomer(const QString& alias)
{
    FCustomer.SetDatabaseName(PegaBDEdados(alias, QStringLiteral("SERVER NAME")));
    FCustomer.Open();
}

void TUpgradeRun::UpgradeDatabase(const QString& entry, TUpgradeObserver& observer)
{
    const QString alias = entry.mid(2, 100);
    FTipo = ScriptsProgram;
    observer.Starting(entry, FTipo);
    OpenCustomer(alias);

    if (!VersionTableExists())
        CreateVersionTable();
    const QString current = ReadVersion();

    SelectScripts(*FPendingCount, QStringLiteral("count(*) ct"), current);
    const int count = FPendingCount->FieldByName(QStringLiteral("ct")).AsInteger();
    FPendingCount->Close();
    SelectScripts(*FPending, QStringLiteral("programa,versao"), current);
    FBackup.clear();
    FHistoryError.clear();
    if (!FPending->Eof()) {
        FBackup = TakeBackup(entry, current, observer);
        BeginHistory(current, FBackup);
    }
    int processed = 0;
    bool failed = false;
    bool ran = false;
    while (!FPending->Eof() && !failed) {
        ran = true;
        failed = !RunScript(entry, observer);
        ++processed;
        observer.Progress(PosicaoProgresso(count, processed, BarMinimum, BarMaximum));
        if (!failed)
            FPending->Next();
    }
    observer.Progress(BarMaximum);

    if (ran)
        RecordVersion();
    FPending->Close();
    FCustomer.Close();
    // Only once VERSAO holds what ran: a history that could not be written
    // must not make the scripts run again.
    if (!FHistoryError.isEmpty())
        throw Exception(QStringLiteral("O histórico da base não foi gravado: ") + FHistoryError);
}

void TUpgradeRun::VersionQuery(const QString& sql)
{
    FVersionQuery->SQLClear();
    FVersionQuery->SQLAdd(sql);
}

// Leaves the version transaction ended either way.
bool TUpgradeRun::VersionTableExists()
{
    VersionQuery(VersionCheck);
    FVersionQuery->Open();
    const bool exists = FVersionQuery->FieldByName(QStringLiteral("CT")).AsInteger() != 0;
    FVersionTransaction->Rollback();
    return exists;
}

void TUpgradeRun::CreateVersionTable()
{
    VersionQuery(QStringLiteral("CREATE TABLE VERSAO (VERSAO VARCHAR(10));"));
    FVersionQuery->ExecSQL();
    FVersionTransaction->Commit();
    VersionQuery(QStringLiteral("insert into versao (versao) values ('") + FirstVersion + QStringLiteral("');"));
    FVersionQuery->ExecSQL();
    FVersionTransaction->Commit();
}

QString TUpgradeRun::ReadVersion()
{
    VersionQuery(QStringLiteral("select versao from versao"));
    FVersionQuery->Open();
    QString current = FVersionQuery->FieldByName(QStringLiteral("versao")).AsString();
    if (current.isNull())
        current = QStringLiteral(""); // no row: the empty version, which a null would not be
    FVersionQuery->Close();
    FVersionTransaction->Rollback();
    return current;
}

// Opens query on the released scripts of tipo newer than current.
void TUpgradeRun::SelectScripts(TQuery& query, const QString& columns, const QString& current)
{
    query.SetSQL({QStringLiteral("select ") + columns + ScriptCondition});
    query.SetBindValues({FTipo, current});
    query.Open();
}

void TUpgradeRun::SetHistory(bool keep, const QString& updater)
{
    FKeepHistory = keep;
    FUpdater = updater;
}

namespace {

QString TimeStamp(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

} // namespace

// Before the first script and before the history begins; a backup that
// cannot be made ends the run with the database as it was. The file's name,
// or empty without a backup folder.
QString TUpgradeRun::TakeBackup(const QString& entry, const QString& current, TUpgradeObserver& observer)
{
    if (FBackupFolder.isEmpty())
        return {};
    TBackupRequest request;
    request.Folder = FBackupFolder;
    request.Alias = entry.mid(2, 100);
    request.Versao = current;
    request.Database = FCustomer.DatabaseName();
    request.Params = FCustomer.Params();
    request.Now = QDateTime::currentDateTime();
    request.Stopped = FStopped;
    const QString file = MakeBackup(request);
    observer.BackupMade(entry, file);
    return QFileInfo(file).fileName();
}

void TUpgradeRun::BeginHistory(const QString& current, const QString& backup)
{
    if (!FKeepHistory)
        return;
    THistoryEntry baseline;
    baseline.Programa = FTipo;
    baseline.Versao = current;
    baseline.Inicio = TimeStamp(QDateTime::currentDateTime());
    baseline.Resultado = QLatin1String(HistoryBaseline);
    baseline.Copia = backup;
    baseline.Atualizador = FUpdater;
    FHistory->Begin(baseline);
}

// The text of the list's current row as the catalogue holds it; none when
// the row has gone from the catalogue meanwhile.
std::optional<QByteArray> TUpgradeRun::ScriptText()
{
    FScriptText->SetBindValues({FPending->FieldByName(QStringLiteral("programa")).Value(),
                                FPending->FieldByName(QStringLiteral("versao")).Value()});
    FScriptText->Open();
    std::optional<QByteArray> text;
    if (!FScriptText->Eof())
        text = FieldBytes(FScriptText->FieldByName(QStringLiteral("texto")));
    FScriptText->Close();
    return text;
}

// Runs the script of the list's current row and commits it; false when it
// failed, after the observer has been told.
bool TUpgradeRun::RunScript(const QString& entry, TUpgradeObserver& observer)
{
    const std::optional<QByteArray> text = ScriptText();
    FScript->SetScript(text ? SplitLines(FromAnsi(*text)) : QStringList());
    THistoryEntry row;
    row.Programa = FTipo;
    row.Versao = FPending->FieldByName(QStringLiteral("versao")).AsString();
    row.Checksum = ScriptChecksum(text.value_or(QByteArray()));
    row.Inicio = TimeStamp(QDateTime::currentDateTime());
    QElapsedTimer clock;
    clock.start();
    FStatements = 0;
    const QString message = ExecuteScript();
    const bool ok = message.isEmpty();
    row.DuracaoMs = clock.elapsed();
    row.Comandos = FStatements; // the failing statement is not counted
    row.Resultado = QLatin1String(ok ? HistoryOk : FParseError.isEmpty() ? HistoryFailed : HistoryParse);
    row.Mensagem = message;
    observer.ScriptDone(entry, FPending->FieldByName(QStringLiteral("versao")).AsString(), ok);
    if (!ok)
        ReportFailure(entry, message, observer);
    try {
        FScriptTransaction->Commit();
    } catch (const std::exception&) {
        // nothing to commit, or the script's own end of transaction
    }
    RecordScript(row, message, observer);
    return ok;
}

// The error header put before the script as the runner held it, for the
// script error file.
void TUpgradeRun::ReportFailure(const QString& entry, const QString& message, TUpgradeObserver& observer)
{
    QStringList& script = FScript->Script();
    QStringList header{QStringLiteral("/* ERRO: "), QStringLiteral(" ")};
    header += SplitLines(message);
    header += {QStringLiteral(" "), QStringLiteral(".....  */"), QStringLiteral(" ")};
    script = header + script;
    observer.ScriptFailed(entry, message, script);
}

// Runs the runner's script; the error that ended it, empty when none.
QString TUpgradeRun::ExecuteScript()
{
    FParseError.clear();
    try {
        ExecutaScript(*FScript);
        // The runner ends quietly on a parse error, but the rest of the
        // script never ran: the script has failed, and must not be recorded
        // as applied.
        return FParseError;
    } catch (const std::exception& error) {
        return ErrorText(error);
    }
}

// The script's row, in its own transaction after the script's. A failure
// is kept for the end of the database, the scripts go on.
void TUpgradeRun::RecordScript(const THistoryEntry& entry, const QString& message, TUpgradeObserver& observer)
{
    if (!FKeepHistory)
        return;
    THistoryEntry row = entry;
    row.ArquivoErro = message.isEmpty() ? QString() : QFileInfo(observer.ErrorFile()).fileName();
    row.Copia = FBackup;
    row.Atualizador = FUpdater;
    if (!FHistoryError.isEmpty())
        return;
    try {
        FHistory->Record(row);
    } catch (const std::exception& error) {
        FHistoryError = ErrorText(error);
    }
}

// The version of the list's current row: the last script after a normal
// end, the failed one after a failure.
void TUpgradeRun::RecordVersion()
{
    QString reached = FPending->FieldByName(QStringLiteral("versao")).AsString();
    reached.replace(u'\'', QStringLiteral("''"));
    VersionQuery(QStringLiteral("update versao set versao='") + reached + QStringLiteral("';"));
    FVersionQuery->ExecSQL();
    FVersionTransaction->Commit();
}

void TUpgradeRun::CloseAll()
{
    FScriptText->Close();
    FPendingCount->Close();
    FPending->Close();
    try {
        FCustomer.Close();
    } catch (const std::exception&) {
        // closed by force on the way out
    }
}

TUpgradePlan TUpgradeRun::Plan(const QString& alias)
{
    TUpgradePlan plan;
    FTipo = ScriptsProgram;
    try {
        ReadRecordedVersion(alias, plan);
        SelectScripts(*FPending, QStringLiteral("programa,versao"),
                      plan.HasVersionTable ? plan.RecordedVersion : FirstVersion);
        for (; !FPending->Eof(); FPending->Next())
            plan.Scripts.append({FPending->FieldByName(QStringLiteral("programa")).AsString(),
                                 FPending->FieldByName(QStringLiteral("versao")).AsString()});
    } catch (...) {
        CloseAll();
        FTipo.clear();
        throw;
    }
    FPending->Close();
    FCustomer.Close();
    FTipo.clear();
    return plan;
}

namespace {

// Every released script of tipo with its text, in version order.
QList<TCatalogScript> ReleasedScripts(const QString& catalogName, const QString& tipo)
{
    TQuery query;
    query.setObjectName(QStringLiteral("Released"));
    query.SetDatabaseName(catalogName);
    query.SetSQL({QStringLiteral("select versao,texto from scripts where programa=? and liberado='S' order by versao")});
    query.SetBindValues({tipo});
    query.Open();
    QList<TCatalogScript> scripts;
    for (; !query.Eof(); query.Next())
        scripts.append({query.FieldByName(QStringLiteral("versao")).AsString(),
                        FieldBytes(query.FieldByName(QStringLiteral("texto")))});
    return scripts;
}

} // namespace

THistoryReport TUpgradeRun::History(const QString& alias)
{
    THistoryReport report;
    FTipo = ScriptsProgram;
    try {
        OpenCustomer(alias);
        report.HasVersionTable = VersionTableExists();
        if (report.HasVersionTable)
            report.RecordedVersion = ReadVersion();
        report.HasHistory = FHistory->Exists();
        report.Rows = FHistory->Read();
        FCustomer.Close();
        if (report.HasHistory)
            report.Findings =
                ValidateHistory(report.Rows, ReleasedScripts(FCatalog.DatabaseName(), FTipo), report.RecordedVersion);
    } catch (...) {
        CloseAll();
        FTipo.clear();
        throw;
    }
    FTipo.clear();
    return report;
}

void TUpgradeRun::ReadRecordedVersion(const QString& alias, TUpgradePlan& plan)
{
    OpenCustomer(alias);
    plan.HasVersionTable = VersionTableExists();
    if (plan.HasVersionTable)
        plan.RecordedVersion = ReadVersion();
}

QString TUpgradeRun::RecordedVersion(const QString& alias)
{
    TUpgradePlan plan;
    try {
        ReadRecordedVersion(alias, plan);
    } catch (...) {
        CloseAll();
        throw;
    }
    FCustomer.Close();
    return plan.HasVersionTable ? plan.RecordedVersion : QString();
}

void ExecutaScript(TIBScript& runner)
{
    QStringList& lines = runner.Script();
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count; ++i)
        if (UpperCase(lines[i]).contains(QLatin1String("COMMIT WORK")))
            lines[i] = QStringLiteral(" ");
    runner.ExecuteScript();
}

int PosicaoProgresso(int count, int processed, int minimum, int maximum)
{
    const double exact = 100.0 / count * processed; // count 0 gives infinity
    if (!(exact < maximum))
        return maximum;
    const double rounded = std::nearbyint(exact); // the default mode rounds halves to even
    return rounded < minimum ? minimum : int(rounded);
}
