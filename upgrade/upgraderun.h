// The upgrade run without a window: brings each customer database, named by
// its alias, up to the newest script version released in the central
// catalogue, and tells beforehand which scripts a run would execute.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class TDatabase;
class TDBMemo;
class TIBDatabase;
class TIBQuery;
class TIBScript;
class TIBTransaction;
class TQuery;
class TTable;

// How a run ended. Not completed means a failure outside the scripts (a
// database that does not open, the version table, the catalogue): the run
// stopped there, with Error its text. A failed script does not count here.
struct TUpgradeOutcome {
    bool Completed = true;
    QString Error;
};

// What the run reports while it works.
class TUpgradeObserver {
public:
    virtual ~TUpgradeObserver() = default;
    // A work-list entry ("M-" and the alias) is about to be opened; programa
    // is the catalogue program whose scripts it receives.
    virtual void Starting(const QString& entry, const QString& programa);
    // The bar position, 1 to 100, after each script and at the end of each
    // database.
    virtual void Progress(int position);
    // A script failed with message; saved is the error header followed by
    // the script as the runner held it, the lines of the script error file.
    virtual void ScriptFailed(const QString& entry, const QString& message, const QStringList& saved);
    // A script of the entry's database ran to its end (ok) or failed.
    virtual void ScriptDone(const QString& entry, const QString& versao, bool ok);
    virtual void Finished(const TUpgradeOutcome& outcome);
};

// The catalogue program whose scripts the runs execute: every work-list
// entry begins with "M", which selects it.
inline const QString ScriptsProgram = QStringLiteral("KELDARIN");

struct TScriptVersion {
    QString Programa;
    QString Versao;
    bool operator==(const TScriptVersion&) const = default;
};

// What a run would find in one customer database and execute there.
struct TUpgradePlan {
    bool HasVersionTable = false;
    // The first row of VERSAO; empty without the table or without a row.
    QString RecordedVersion;
    // The released scripts newer than the recorded version, in run order.
    // Without VERSAO the run creates it holding "0", so these are the ones
    // after "0".
    QList<TScriptVersion> Scripts;
};

class TUpgradeRun {
public:
    // The catalogue connection stays open across runs and is only used here;
    // its DatabaseName is taken now.
    // The customer connection is opened and closed around each database;
    // the run's script transaction becomes its default transaction. Both
    // must outlive the run.
    TUpgradeRun(TDatabase& catalog, TIBDatabase& customer);
    ~TUpgradeRun();
    TUpgradeRun(const TUpgradeRun&) = delete;
    TUpgradeRun& operator=(const TUpgradeRun&) = delete;

    // Upgrades the database of each alias in order. A failed script ends the
    // work on its database, which is still recorded as having reached that
    // script's version; a failure outside the scripts ends the run, leaving
    // the customer database and the catalogue queries closed.
    TUpgradeOutcome Run(const QStringList& aliases, TUpgradeObserver& observer);

    // Runs nothing and changes nothing: opens the alias's database, reads
    // VERSAO where it exists, lists the scripts a run would execute, and
    // closes the database again. Errors are raised.
    TUpgradePlan Plan(const QString& alias);
    // The first row of VERSAO in the alias's database (opened and closed
    // again), null without the table. Errors are raised.
    QString RecordedVersion(const QString& alias);

    // The catalogue program of the database being processed; empty outside a run.
    const QString& Tipo() const { return FTipo; }

    // The run's parts as the upgrade window names them; the update window
    // borrows Query3 for its own catalogue query.
    TQuery* Query2() const { return FQuery2.get(); }
    TQuery* Query3() const { return FQuery3.get(); }
    TTable* Table2() const { return FTable2.get(); }
    TDBMemo* DBMemo1() const { return FDBMemo1.get(); }
    TIBTransaction* IBTransaction1() const { return FIBTransaction1.get(); }
    TIBTransaction* IBTransaction2() const { return FIBTransaction2.get(); }
    TIBQuery* IBQuery1() const { return FIBQuery1.get(); }
    TIBScript* IBScript1() const { return FIBScript1.get(); }

private:
    void UpgradeDatabase(const QString& entry, TUpgradeObserver& observer);
    void OpenCustomer(const QString& alias);
    // Opens the alias's database and reads VERSAO, where it exists, into plan.
    void ReadRecordedVersion(const QString& alias, TUpgradePlan& plan);
    bool VersionTableExists();
    void CreateVersionTable();
    QString ReadVersion();
    void SelectScripts(TQuery& query, const QString& columns, const QString& current);
    bool RunScript(const QString& entry, TUpgradeObserver& observer);
    void RecordVersion();
    void VersionQuery(const QString& sql);
    void CloseAll();

    TDatabase& FCatalog;
    TIBDatabase& FCustomer;
    QString FTipo;
    std::unique_ptr<TQuery> FQuery3;
    std::unique_ptr<TQuery> FQuery2;
    std::unique_ptr<TTable> FTable2;
    std::unique_ptr<TDBMemo> FDBMemo1;
    std::unique_ptr<TIBTransaction> FIBTransaction1;
    std::unique_ptr<TIBTransaction> FIBTransaction2;
    std::unique_ptr<TIBQuery> FIBQuery1;
    std::unique_ptr<TIBScript> FIBScript1;
    // The parse error that ended the running script, if any.
    QString FParseError;
};

// Blanks every line of the runner's script that holds COMMIT WORK (in any
// letter case), then runs it. Errors of the run pass through.
void ExecutaScript(TIBScript& runner);

// The bar position after processed of count scripts: 100 / count * processed
// rounded half to even, kept within minimum..maximum.
int PosicaoProgresso(int count, int processed, int minimum, int maximum);
