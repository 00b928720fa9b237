// The upgrade run without a window: brings each customer database, named by
// its alias, up to the newest script version released in the central
// catalogue, and tells beforehand which scripts a run would execute.
#pragma once

#include "upgrade/history.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class TDatabase;
class TIBDatabase;
class TIBQuery;
class TIBScript;
class TIBTransaction;
class TQuery;

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
    // The entry's database was backed up to file before its first script.
    virtual void BackupMade(const QString& entry, const QString& file);
    // The name of the file ScriptFailed saved the script to; empty when none.
    virtual QString ErrorFile() const;
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

// A database's history for the operator: VERSAO, the rows newest first, and
// what they say against the catalogue now.
struct THistoryReport {
    bool HasVersionTable = false;
    QString RecordedVersion;
    bool HasHistory = false;
    QList<THistoryEntry> Rows;
    THistoryFindings Findings;
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

    // The history and validation of the alias's database; changes nothing.
    THistoryReport History(const QString& alias);

    // Where the backup before each database's first script goes; empty: no
    // backup.
    void SetBackupFolder(const QString& folder) { FBackupFolder = folder; }
    // Whether the run keeps the history, and the updater's version its rows name.
    void SetHistory(bool keep, const QString& updater);
    // Asked while the backup runs; true ends the run before any script.
    void SetStopRequest(std::function<bool()> stopped) { FStopped = std::move(stopped); }

    // The catalogue program of the database being processed; empty outside a run.
    const QString& Tipo() const { return FTipo; }

private:
    void UpgradeDatabase(const QString& entry, TUpgradeObserver& observer);
    void OpenCustomer(const QString& alias);
    // Opens the alias's database and reads VERSAO, where it exists, into plan.
    void ReadRecordedVersion(const QString& alias, TUpgradePlan& plan);
    bool VersionTableExists();
    void CreateVersionTable();
    QString ReadVersion();
    void SelectScripts(TQuery& query, const QString& columns, const QString& current);
    std::optional<QByteArray> ScriptText();
    QString TakeBackup(const QString& entry, const QString& current, TUpgradeObserver& observer);
    void BeginHistory(const QString& current, const QString& backup);
    bool RunScript(const QString& entry, TUpgradeObserver& observer);
    QString ExecuteScript();
    void ReportFailure(const QString& entry, const QString& message, TUpgradeObserver& observer);
    void RecordScript(const THistoryEntry& entry, const QString& message, TUpgradeObserver& observer);
    void RecordVersion();
    void VersionQuery(const QString& sql);
    void CloseAll();

    TDatabase& FCatalog;
    TIBDatabase& FCustomer;
    QString FTipo;
    // The catalogue's side: how many released scripts are pending, which
    // they are (its current row is the script being run), and the text of
    // that row.
    std::unique_ptr<TQuery> FPendingCount;
    std::unique_ptr<TQuery> FPending;
    std::unique_ptr<TQuery> FScriptText;
    // The customer's side: the scripts run in the script transaction, which
    // is the connection's default; VERSAO is read and written through the
    // version query in a transaction of its own.
    std::unique_ptr<TIBTransaction> FScriptTransaction;
    std::unique_ptr<TIBTransaction> FVersionTransaction;
    std::unique_ptr<TIBQuery> FVersionQuery;
    std::unique_ptr<TIBScript> FScript;
    std::unique_ptr<TUpgradeHistory> FHistory;
    bool FKeepHistory = false;
    QString FUpdater;
    QString FBackupFolder;
    std::function<bool()> FStopped = [] { return false; };
    // The backup taken for the database being processed.
    QString FBackup;
    // Why a history row could not be written, for the end of the database.
    QString FHistoryError;
    // Statements the running script executed.
    int FStatements = 0;
    // The parse error that ended the running script, if any.
    QString FParseError;
};

// Blanks every line of the runner's script that holds COMMIT WORK (in any
// letter case), then runs it. Errors of the run pass through.
void ExecutaScript(TIBScript& runner);

// The bar position after processed of count scripts: 100 / count * processed
// rounded half to even, kept within minimum..maximum.
int PosicaoProgresso(int count, int processed, int minimum, int maximum);
