#include "upgrade/upgraderun.h"

#include "db/aliases.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "upgrade/ibscript.h"

#include <cmath>

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

} // namespace

void TUpgradeObserver::Starting(const QString&, const QString&) {}
void TUpgradeObserver::Progress(int) {}
void TUpgradeObserver::ScriptFailed(const QString&, const QString&, const QStringList&) {}
void TUpgradeObserver::ScriptDone(const QString&, const QString&, bool) {}
void TUpgradeObserver::Finished(const TUpgradeOutcome&) {}

TUpgradeRun::TUpgradeRun(TDatabase& catalog, TIBDatabase& customer)
    : FCatalog(catalog), FCustomer(customer), FQuery3(std::make_unique<TQuery>()),
      FQuery2(std::make_unique<TQuery>()), FTable2(std::make_unique<TTable>()),
      FDBMemo1(std::make_unique<TDBMemo>()), FIBTransaction1(std::make_unique<TIBTransaction>()),
      FIBTransaction2(std::make_unique<TIBTransaction>()), FIBQuery1(std::make_unique<TIBQuery>()),
      FIBScript1(std::make_unique<TIBScript>())
{
    const QString catalogName = FCatalog.DatabaseName();
    FQuery3->setObjectName(QStringLiteral("Query3"));
    FQuery3->SetDatabaseName(catalogName);
    FQuery2->setObjectName(QStringLiteral("Query2"));
    FQuery2->SetDatabaseName(catalogName);
    FTable2->setObjectName(QStringLiteral("Table2"));
    FTable2->SetDatabaseName(catalogName);
    FTable2->SetTableName(QStringLiteral("scripts"));
    FTable2->SetIndexFieldNames(QStringLiteral("programa;versao"));
    FTable2->SetMasterSource(FQuery2.get());
    FTable2->SetMasterFields(QStringLiteral("programa;versao"));
    FDBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    FDBMemo1->SetDataSource(FTable2.get(), QStringLiteral("texto"));

    FIBTransaction1->setObjectName(QStringLiteral("IBTransaction1"));
    FIBTransaction2->setObjectName(QStringLiteral("IBTransaction2"));
    FCustomer.SetDefaultTransaction(FIBTransaction1.get());
    FIBTransaction2->SetDefaultDatabase(&FCustomer);

    FIBQuery1->setObjectName(QStringLiteral("IBQuery1"));
    FIBQuery1->SetDatabase(&FCustomer);
    FIBQuery1->SetTransaction(FIBTransaction2.get());

    FIBScript1->SetDatabase(&FCustomer);
    FIBScript1->SetTransaction(FIBTransaction1.get());
    FIBScript1->SetTerminator(QStringLiteral(";"));
    FIBScript1->SetOnParseError([this](const QString& error, const QString& sqlText, int) {
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

    SelectScripts(*FQuery3, QStringLiteral("count(*) ct"), current);
    const int count = FQuery3->FieldByName(QStringLiteral("ct")).AsInteger();
    FQuery3->Close();
    SelectScripts(*FQuery2, QStringLiteral("programa,versao"), current);
    int processed = 0;
    bool failed = false;
    bool ran = false;
    while (!FQuery2->Eof() && !failed) {
        ran = true;
        failed = !RunScript(entry, observer);
        ++processed;
        observer.Progress(PosicaoProgresso(count, processed, BarMinimum, BarMaximum));
        if (!failed)
            FQuery2->Next();
    }
    observer.Progress(BarMaximum);

    if (ran)
        RecordVersion();
    FQuery2->Close();
    FCustomer.Close();
}

void TUpgradeRun::VersionQuery(const QString& sql)
{
    FIBQuery1->SQLClear();
    FIBQuery1->SQLAdd(sql);
}

// Leaves the version transaction ended either way.
bool TUpgradeRun::VersionTableExists()
{
    VersionQuery(VersionCheck);
    FIBQuery1->Open();
    const bool exists = FIBQuery1->FieldByName(QStringLiteral("CT")).AsInteger() != 0;
    FIBTransaction2->Rollback();
    return exists;
}

void TUpgradeRun::CreateVersionTable()
{
    VersionQuery(QStringLiteral("CREATE TABLE VERSAO (VERSAO VARCHAR(10));"));
    FIBQuery1->ExecSQL();
    FIBTransaction2->Commit();
    VersionQuery(QStringLiteral("insert into versao (versao) values ('") + FirstVersion + QStringLiteral("');"));
    FIBQuery1->ExecSQL();
    FIBTransaction2->Commit();
}

QString TUpgradeRun::ReadVersion()
{
    VersionQuery(QStringLiteral("select versao from versao"));
    FIBQuery1->Open();
    QString current = FIBQuery1->FieldByName(QStringLiteral("versao")).AsString();
    if (current.isNull())
        current = QStringLiteral(""); // no row: the empty version, which a null would not be
    FIBQuery1->Close();
    FIBTransaction2->Rollback();
    return current;
}

// Opens query on the released scripts of tipo newer than current.
void TUpgradeRun::SelectScripts(TQuery& query, const QString& columns, const QString& current)
{
    query.SetSQL({QStringLiteral("select ") + columns + ScriptCondition});
    query.SetBindValues({FTipo, current});
    query.Open();
}

// Runs the script of the list's current row and commits it; false when it
// failed, after the observer has been told.
bool TUpgradeRun::RunScript(const QString& entry, TUpgradeObserver& observer)
{
    FTable2->Open();
    FIBScript1->SetScript(FDBMemo1->Lines());
    FTable2->Close();
    QString message;
    FParseError.clear();
    try {
        ExecutaScript(*FIBScript1);
        // The runner ends quietly on a parse error, but the rest of the
        // script never ran: the script has failed, and must not be recorded
        // as applied.
        message = FParseError;
    } catch (const std::exception& error) {
        message = ErrorText(error);
    }
    const bool ok = message.isEmpty();
    observer.ScriptDone(entry, FQuery2->FieldByName(QStringLiteral("versao")).AsString(), ok);
    if (!ok) {
        QStringList& script = FIBScript1->Script();
        QStringList header{QStringLiteral("/* ERRO: "), QStringLiteral(" ")};
        header += SplitLines(message);
        header += {QStringLiteral(" "), QStringLiteral(".....  */"), QStringLiteral(" ")};
        script = header + script;
        observer.ScriptFailed(entry, message, script);
    }
    try {
        FIBTransaction1->Commit();
    } catch (const std::exception&) {
        // nothing to commit, or the script's own end of transaction
    }
    return ok;
}

// The version of the list's current row: the last script after a normal
// end, the failed one after a failure.
void TUpgradeRun::RecordVersion()
{
    QString reached = FQuery2->FieldByName(QStringLiteral("versao")).AsString();
    reached.replace(u'\'', QStringLiteral("''"));
    VersionQuery(QStringLiteral("update versao set versao='") + reached + QStringLiteral("';"));
    FIBQuery1->ExecSQL();
    FIBTransaction2->Commit();
}

void TUpgradeRun::CloseAll()
{
    FTable2->Close();
    FQuery3->Close();
    FQuery2->Close();
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
        SelectScripts(*FQuery2, QStringLiteral("programa,versao"),
                      plan.HasVersionTable ? plan.RecordedVersion : FirstVersion);
        for (; !FQuery2->Eof(); FQuery2->Next())
            plan.Scripts.append({FQuery2->FieldByName(QStringLiteral("programa")).AsString(),
                                 FQuery2->FieldByName(QStringLiteral("versao")).AsString()});
    } catch (...) {
        CloseAll();
        FTipo.clear();
        throw;
    }
    FQuery2->Close();
    FCustomer.Close();
    FTipo.clear();
    return plan;
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
