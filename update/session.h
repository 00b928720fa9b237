// One update of the installation in the working folder, from the checks to
// the upgraded customer database: the sequence that the update window and
// the unattended run (zembo-update) share. It owns the FTP client, the run's
// source (FTP or HTTPS) and the catalogue and customer connections, writes
// the run log and the script error file, and reports through
// TSessionObserver; its outcome is a value.
#pragma once

#include "ftp/idftp.h"
#include "release/release.h"
#include "update/catalogreport.h"
#include "update/checks.h"
#include "update/runlog.h"
#include "update/updaterun.h"
#include "upgrade/upgraderun.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class TDatabase;
class TIBDatabase;
struct TSignedRelease;

enum TUpdateResult {
    urSucesso,      // everything fetched, replaced and upgraded (or nothing to do)
    urErros,        // a file, the replacement or the sequence failed
    urScriptFalhou, // a script failed, in this run or an earlier one of the session
    urCancelada,    // stopped on request
    urSemConexao,   // the server (FTP or HTTPS) could not be reached
};

// Why an update of the folder cannot begin.
enum TRefusalKind {
    rcOcupada,     // another update (window or zembo-update) holds the folder
    rcScriptErro,  // the script error file of an earlier run blocks it
    rcVerificacao, // a check failed
};

struct TRefusal {
    TRefusalKind Kind;
    QString Message;                    // what the operator is told
    std::optional<TCheckFailure> Check; // the failed check (rcVerificacao)
    QString ErrorFile;                  // the blocking file (rcScriptErro)
};

struct TUpdateOutcome {
    TUpdateResult Result = urSucesso;
    QString Causa; // what went wrong, as the operator was told
    // The status text a window ends the run with.
    QString TextoFinal() const;
};

// What the session reports, in the order it happens, besides the run's own
// reports (TUpdateObserver).
class TSessionObserver : public TUpdateObserver {
public:
    // A step of the sequence begins ("Verificando", "Conectando", ...).
    virtual void Stage(const QString& stage) { (void)stage; }
    // The FTP connection's state, and the progress of a transfer.
    virtual void Status(TIdStatus status, const QString& text) { (void)status, (void)text; }
    virtual void TransferBegin() {}
    virtual void TransferProgress(std::int64_t count) { (void)count; }
    virtual void TransferEnd(TWorkMode mode) { (void)mode; }
    // An error that ends the run where no step expected one.
    virtual void Error(const QString& text) { (void)text; }
    // The database upgrade begins and has ended (a window shows itself in between).
    virtual void UpgradeBegin() {}
    virtual void UpgradeEnd() {}
    virtual void UpgradeProgress(int position) { (void)position; }
    virtual void ScriptDone(const QString& entry, const QString& versao, bool ok) { (void)entry, (void)versao, (void)ok; }
    // A failed script was saved to the error file, which blocks later runs.
    virtual void ScriptSaved(const QString& errorFile) { (void)errorFile; }
    // A failure outside the scripts ended the upgrade.
    virtual void UpgradeFailed(const QString& text) { (void)text; }
};

class TUpdateSession {
public:
    // logFile: the run log, relative to the working folder; empty keeps none.
    explicit TUpdateSession(TSessionObserver& observer, const QString& logFile = RunLogName);
    ~TUpdateSession();
    TUpdateSession(const TUpdateSession&) = delete;
    TUpdateSession& operator=(const TUpdateSession&) = delete;

    // How every update of the folder begins, whoever runs it: the folder's
    // lock, then the script error file of an earlier run, then the checks
    // (Verifica). Nothing when the update may go on. A look that changes
    // nothing (zembo-check) takes the lock only where a lock file exists:
    // without one, no update holds the folder. The look at the database
    // history is not refused by a pending script error file: that is when
    // support reads it.
    enum TStart { stUpdate, stLookOnly, stHistoryOnly };
    std::optional<TRefusal> Inicia(TStart start = stUpdate);
    // The checks, in order: Program Files, the archiver, the main executable,
    // Tolvenra.INI, the alias and both databases. On success the catalogue
    // stays open and the alias is ready for the upgrade.
    std::optional<TCheckFailure> Verifica();
    // The main executable's check passed: files are fetched (the window's
    // main executable label turns green).
    bool ExecutavelVerificado() const { return FExecutavelVerificado; }
    // The alias Tolvenra.INI names, once the file checks passed.
    const QString& Alias() const { return FAlias; }
    // The aliases the upgrade processes (their databases opened in the checks).
    const QStringList& Aliases() const { return FAliases; }
    const QString& ProgramFiles() const { return FProgr; }

    // One run: settings, password, connection, listing, downloads, the
    // replacement, the upgrade. It may be started again after it ends.
    TUpdateOutcome Atualiza();
    // A stop request, from any thread or observer call: the run ends as
    // soon as it can (every wait within a second), nothing further fetched,
    // replaced or upgraded. Asked before the run starts, it stops that run;
    // the request ends with the run.
    void Cancela();

    // Changes nothing: what the run would fetch (connects, verifies the
    // signed release as the run does when a key is trusted, lists, judges,
    // disconnects), and what the upgrade would run in the alias's database.
    // release, when given, receives the verified release (none without a
    // trusted key); a release the run would refuse raises EReleaseError.
    TUpdatePlan PlanoDosArquivos(std::optional<TSignedRelease>* release = nullptr);
    TUpgradePlan PlanoDaBase(const QString& alias);
    // The alias's database history and what it says against the catalogue.
    THistoryReport HistoricoDaBase(const QString& alias);

    // Which face runs the updates, as they are reported to the catalogue
    // (the window, unless said otherwise).
    void SetFace(TRunFace face) { FFace = face; }

    // The customer database is attached (it never is between runs).
    bool BaseClienteAberta() const;

private:
    // One update of a folder at a time: the lock on zembo-update.lock in the
    // working folder, which the system releases when the process ends, also
    // by a crash or a kill. False when another process holds it, or when the
    // file cannot be opened (the reason goes to the run log).
    bool Bloqueia();
    void Log(const QString& event);
    void LogArquivo(const TPlanItem& item, bool fetched, std::int64_t patchSize);
    void LigaEventos();
    class TRunReports;
    TUpdateOutcome Sincroniza(TUpdateRun& run, const TRunReports& reports);
    // The facts of a run reported to the catalogue as it starts, and those
    // of its end over them.
    TRunEvent FatosDoInicio();
    TRunEvent FatosDoFim(TRunEvent facts, const TUpdateOutcome& outcome, const TRunReports& reports);
    std::unique_ptr<TSignedRelease> Conecta(TUpdateRun& run);
    std::unique_ptr<TSignedRelease> VerificaVersao();
    void EscolheFonte();

public:
    // The upgrade alone, of these aliases (the catalogue opened when it is
    // not): part of every run, on its own for a test of the upgrade window.
    TUpdateOutcome AtualizaBases(const QStringList& aliases);

private:

    TSessionObserver& FObserver;
    struct TFolderFiles; // the folder's lock and run log
    std::unique_ptr<TFolderFiles> FFolder;
    TIdFTP FFtp;
    std::unique_ptr<TReleaseSource> FSource; // the run's: FTP through FFtp, or HTTPS
    std::unique_ptr<TDatabase> FCatalogue;
    std::unique_ptr<TIBDatabase> FCustomer;
    std::unique_ptr<TUpgradeRun> FUpgrade;
    QString FProgr;
    QString FAlias;
    QStringList FAliases;
    bool FExecutavelVerificado = false;
    TRunFace FFace = rfJanela;
    bool FScriptFailed = false; // sticky for the session's life
    QString FScriptFalhou;      // the version of the script that failed in the last upgrade
    QByteArray FManifestBytes;  // of the release being installed
    QList<TPublicKey> FReleaseKeys; // trusted for it, and for its delta index
    std::atomic<bool> FStop = false; // the one stop request: the run and the FTP client read it
};

// What fetching the plan's file whole costs (its size here once fetched).
std::int64_t FullSize(const TPlanItem& item);
// The run log's line of the bytes moved against the whole files' size.
QString TransferText(std::int64_t moved, std::int64_t full);

// The script error file's name for a work-list entry ("M-" and the alias) at
// a moment, in the user's short date and long time formats.
QString NomeArquivoErro(const QString& entry, const TDateTime& moment);
// The first script error file of the folder, if any: it blocks an update.
QString ArquivoErroPendente();
