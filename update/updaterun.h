// The update run without a window: the environment checks, the settings of
// atualiza.cfg and the FTP password, the plan computed from the server's
// listing (what is fetched and why), the download and stamping of one file,
// the replacement of the main executable, and the run that executes a plan
// and reports through TUpdateObserver. Everything works on the current
// working folder, the installation folder. A check tool computes the same
// checks and plan without changing anything; the window runs them.
#pragma once

#include "platform/datetime.h"
#include "platform/errors.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

struct TManifest;
class TDatabase;
class TIBDatabase;
class TIdFTP;
class TIdFTPListItems;

// Files and names of the installation and the server.
inline const QString MainExecutable = QStringLiteral("Quendarive.exe");
inline const QString MainBackup = QStringLiteral("Quendarive.old");
inline const QString MainArchive = QStringLiteral("Quendarive.rar");
inline const QString SettingsFile = QStringLiteral("Tolvenra.INI");
inline const QString ConnectionFile = QStringLiteral("atualiza.cfg");
inline const QString ServerFolder = QStringLiteral("keldarin");
inline const QString DllsEntry = QStringLiteral("Arquivos_dlls");
// Where the archiver unpacks before the new program is moved into place: in
// the installation folder, so the move is a rename on one file system.
inline const QString StagingFolder = QStringLiteral("zembo-extracao.tmp");
// Written before a run begins what ends in the replacement of the main
// executable, removed once the new program is in place: a run killed in
// between leaves it, and the next run replaces even with nothing to fetch.
inline const QString PendingReplacementFile = QStringLiteral("zembo-substituicao.pendente");
constexpr int ArchiverTimeoutMs = 120000;

// ---------------------------------------------------------------- checks

enum TCheckKind {
    ckRegistry,          // the Program Files folder cannot be read
    ckArchiver,          // the archiver is missing: the download page opens
    ckMainExecutable,    // neither Quendarive.exe nor Quendarive.old
    ckSettingsFile,      // no Tolvenra.INI
    ckSettingsUnreadable,
    ckAlias,             // alias unknown or without SERVER NAME
    ckCatalogue,         // the central catalogue does not open
    ckCustomerDatabase,  // the customer database does not open
};

struct TCheckFailure {
    TCheckKind Kind;
    QString Message; // the operator's message, exactly as shown
    // The update button is disabled by the two file checks.
    bool DisablesButton() const { return Kind == ckMainExecutable || Kind == ckSettingsFile; }
    bool OpensDownloadPage() const { return Kind == ckArchiver; }
};

// The archiver's download page on the maker's site (ArchiverPath: helpers).
QString ArchiverDownloadPage();

// The Program Files folder (program_files); a registry failure is a failed check.
std::optional<TCheckFailure> VerificaProgramFiles(QString& progr);
// The archiver, the main executable (or its backup) and Tolvenra.INI, in
// that order; on success alias holds columns 15 to 44 of its first line.
std::optional<TCheckFailure> VerificaArquivos(const QString& progr, QString& alias);
// The alias's database file, then the central catalogue (left open on
// success) and the customer database (opened and closed again).
std::optional<TCheckFailure> VerificaBases(const QString& alias, TDatabase& catalogue, TIBDatabase& customer);

// Columns 15 to 44 of the first line, trimmed; raises EInOutError.
QString AliasDoIni(const QString& path);

// -------------------------------------------------------------- settings

struct TConfiguracao {
    QString Host;
    std::uint16_t Port = 21;
    bool Passive = true;
    bool SenhaAlternativa = false; // password from senha_ftp2
    bool Tls = false;              // line 5 reads "TLS": encrypted, or no connection
    QString PasswordField() const;  // "senha_ftp" or "senha_ftp2"
};

// atualiza.cfg of the working folder, or the built-in server. Raises
// EInOutError when the file exists but cannot be read, EConvertError for a
// port that is not a number from 0 to 65535.
TConfiguracao LeConfiguracao();
// The decoded FTP password from table principal of the open catalogue
// "Sistema_my"; errors of the query pass through.
QString SenhaFtp(const TConfiguracao& settings);
// The update window's client settings: passive, no MLSD, and the bounded
// waits (30 s for a connection, 60 s for a reply or a data block).
void AjustaFtp(TIdFTP& ftp);

// ------------------------------------------------------------------ plan

enum TFileDecision {
    fdBaixar,       // differs from the server: fetched
    fdAtualizado,   // same minute as the server
    fdNuncaBaixado, // the Arquivos_dlls entry
    fdRecusado,     // a name that would write outside the folder
    fdSemItem,      // a listing line that names no entry
    fdPasta,        // a folder of the listing (".", ".." among them): never fetched
    fdManifesto,    // the signed release's manifest or signature: read apart
};
QString DecisionText(TFileDecision decision); // "baixar", "atualizado", ...

// Tree state pictures: green, orange (being fetched), red; none for a line
// without an entry.
enum TNodeState { nsNone = -1, nsGreen = 1, nsOrange = 3, nsRed = 4 };

struct TPlanItem {
    QString Line;         // the raw listing line, the tree node's text
    QString Name;         // the listed name; empty without an entry
    TDateTime RemoteTime; // the listing's modification time
    TFileDecision Decision = fdSemItem;
    QString Reason;       // why a name is refused
    std::int64_t ListedSize = -1; // the listing's size, when it gives one
    TNodeState State() const;
};

struct TUpdatePlan {
    QList<TPlanItem> Items; // one per listing line, in order
    bool AnyToFetch() const;
    bool Fetches(const QString& name) const;
    // The replacement condition (SubstituicaoNecessaria's) when every
    // fetch succeeds.
    bool ReplacementExpected() const;
};

// Pairs each line with the entry parsed from it (entries keep their line)
// and judges each entry against the local file. With a signed release's
// manifest, a listed file it does not name is refused.
TUpdatePlan PlanejaAtualizacao(const QStringList& lines, const TIdFTPListItems& items,
                               const TManifest* manifest = nullptr);
// Whether the local file must be fetched: both times as "dd/mm/yyyy HH:mm"
// differ; a missing file counts as today at 00:00.
bool ArquivoDiferente(const QString& name, TDateTime remoteTime);
// Why a listed name may not be written in the working folder, or empty.
QString MotivoRecusa(const QString& name);
// Whether the run replaces the main executable: anything fetched, the main
// executable missing or a replacement pending; no error; the archive here.
bool SubstituicaoNecessaria(bool downloaded, bool failed);
// An earlier run was to replace the main executable and did not finish.
bool SubstituicaoPendente();
// Records the replacement as pending (written aside and renamed); raises
// EInOutError when it cannot, and nothing should be changed then.
void MarcaSubstituicaoPendente();

// Runs on a fetched file before it replaces the local copy; raises to refuse it.
using TFetchedFileCheck = std::function<void(const QString& fetchedFile)>;
// Fetches the file over its local copy, which survives any failure; a
// length other than expectedSize (when known) fails the download. With a
// known size an interrupted download is kept aside and resumed by the next
// run while the server's time and size still match. check, when given,
// judges the whole file before it replaces the local copy. Then stamps it
// with the listing's time (a failed stamping is ignored).
void BaixaArquivo(TIdFTP& ftp, const TPlanItem& item, std::int64_t expectedSize, const TFetchedFileCheck& check = {});

// ----------------------------------------------------------- replacement

// The pause of the replacement's wait loop; replaceable so tests need not sleep.
using TPauseFunction = std::function<void(int milliseconds)>;
void SetPauseFunction(TPauseFunction pause); // empty restores the real pause

struct TSubstituicao {
    bool Failed = false;    // not replaced: the previous program is in place
    bool Cancelled = false; // stopped on request: likewise
    QString Message;        // shown to the operator when it failed
    QString CommandLine;    // the archiver's, when started
    int Pauses = 0;
};
// Runs during every wait of the replacement; false asks it to stop.
using TKeepWaiting = std::function<bool()>;
// The archiver's command line: extract *.exe of the archive into the
// destination, overwriting; the archiver is the file the check looks for.
QString LinhaDeComando(const QString& progr, const QString& destination);
// The replacement as one transaction: backs up the main executable, deletes
// it and waits for it to go, has the archiver unpack the archive into the
// staging folder (waited for, at most ArchiverTimeoutMs), and moves the
// executables into place by rename, which ends the pending replacement.
// Any failure, or a stop asked through
// keepWaiting, puts the previous program back (from the backup when it was
// already deleted), removes the staging folder and deletes the archive, so
// the next run fetches it again.
TSubstituicao SubstituiExecutavel(const QString& mainExecutable, const QString& progr,
                                  const TKeepWaiting& keepWaiting = {});
// Removes a staging folder that an interrupted run left behind; a link in
// its place goes as a link. False when something of it is left.
bool LimpaExtracao();

// ------------------------------------------------------------------- run

// The FTP connection failed: the message of the window, with the error's text.
class EUpdateConnectError : public Exception {
public:
    using Exception::Exception;
};

// The run stopped on a close request.
class EUpdateCancelled : public Exception {
public:
    EUpdateCancelled() : Exception(QStringLiteral("Atualização interrompida.")) {}
};

// What the run reports, in the order it happens.
class TUpdateObserver {
public:
    virtual ~TUpdateObserver() = default;
    // Runs about every 50 ms while the run waits (the network, the
    // archiver, a pause), on the run's thread.
    virtual void Waiting() {}
    virtual void Listed(const QStringList& lines) { (void)lines; }
    virtual void Planned(const TUpdatePlan& plan) { (void)plan; }
    virtual void FileStarted(int index, const QString& name) { (void)index, (void)name; }
    virtual void SizeKnown(std::uint32_t bytesToTransfer) { (void)bytesToTransfer; }
    virtual void StateChanged(int index, TNodeState state) { (void)index, (void)state; }
    // A file that could not be fetched or was refused: shown, the run goes on.
    virtual void FileFailed(int index, const QString& message) { (void)index, (void)message; }
    // The replacement could not remove the main executable.
    virtual void ReplacementFailed(const QString& message) { (void)message; }
};

class TUpdateRun {
public:
    // stop: the caller's stop request, which may be set from any thread:
    // whatever the run waits for stops at once (a transfer at its next
    // block), nothing further is fetched or replaced, and a replacement
    // under way puts the previous program back.
    TUpdateRun(TIdFTP& ftp, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop);
    ~TUpdateRun();
    TUpdateRun(const TUpdateRun&) = delete;
    TUpdateRun& operator=(const TUpdateRun&) = delete;

    // Settings, login, binary, "keldarin". A failed connection raises
    // EUpdateConnectError; other errors pass through.
    void Conecta(const TConfiguracao& settings, const QString& password);
    // From now on every file is held to the signed release's manifest
    // (which must outlive the run): unlisted files are refused, fetched
    // ones and the archive checked before they are used.
    void UsaManifesto(const TManifest* manifest) { FManifest = manifest; }
    // Lists "keldarin" and judges every line against the local files;
    // changes nothing (what a check tool shows).
    const TUpdatePlan& Planeja();
    // Records the replacement as pending when the plan expects it, fetches
    // and stamps what the plan says, refuses the unsafe names, then replaces
    // the main executable when SubstituicaoNecessaria says so.
    void Executa(const QString& mainExecutable);
    // Planeja, then Executa: the window's run.
    void Sincroniza(const QString& mainExecutable);
    // Orderly QUIT; errors of a session already lost are ignored.
    void Desconecta();

    bool Cancelado() const { return FStop; }

    bool Erro() const { return FError; }
    // The plan's items fetched and stamped by this run, in order.
    const QList<int>& Baixados() const { return FFetched; }
    const TUpdatePlan& Plano() const { return FPlan; }
    const TSubstituicao& Substituicao() const { return FReplacement; }

private:
    void Baixa(int index);
    void LimpaParciais() const;
    // The archive is the one the manifest names, also when an earlier run fetched it.
    bool ArquivoConfere();
    void CheckCancelled() const;

    TIdFTP& FFtp;
    TUpdateObserver& FObserver;
    QString FProgr;
    TUpdatePlan FPlan;
    TSubstituicao FReplacement;
    const TManifest* FManifest = nullptr;
    bool FError = false;
    bool FDownloaded = false;
    QList<int> FFetched;
    const std::atomic<bool>& FStop;
};

// The status text at the end of a run.
QString TextoFinal(bool failed, bool scriptFailed);
