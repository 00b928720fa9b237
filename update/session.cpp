#include "update/session.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/lock.h"
#include "platform/text.h"
#include "release/release.h"
#include "settings.h"
#include "update/names.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

const QString LockName = QStringLiteral("zembo-update.lock");

} // namespace

std::int64_t FullSize(const TPlanItem& item)
{
    // the archive a patch stood in for was never written here: the listing's size is what it would have cost
    return QFileInfo::exists(item.Name) ? QFileInfo(item.Name).size() : item.ListedSize;
}

QString TransferText(std::int64_t moved, std::int64_t full)
{
    return QStringLiteral("transferidos: %1 bytes de %2 (%3 %)")
        .arg(moved)
        .arg(full)
        .arg(full > 0 ? qRound64(100.0 * double(moved) / double(full)) : 100);
}

QString TUpdateOutcome::TextoFinal() const
{
    return ::TextoFinal(Result != urSucesso, Result == urScriptFalhou);
}

QString NomeArquivoErro(const QString& entry, const TDateTime& moment)
{
    const QString date = TrocaCaractere(DateToStr(moment), QStringLiteral("/"), QStringLiteral("-"));
    const QString time = TrocaCaractere(TimeToStr(moment), QStringLiteral(":"), QStringLiteral("-"));
    return QStringLiteral("SCRIPT_ERRO_DT_") + date + QStringLiteral("_HR_") + time + QStringLiteral(" ") + entry +
           QStringLiteral(".TXT");
}

QString ArquivoErroPendente()
{
    QStringList found;
    for (const TSearchEntry& entry : FindEntries(QString(), QStringLiteral("SCRIPT_ERRO*.*")))
        found.append(entry.Name);
    SortTextLocale(found);
    return found.value(0);
}

// The lock and the log live as long as the session.
struct TUpdateSession::TFolderFiles {
    explicit TFolderFiles(const QString& logFile)
        : Lock(QDir::current().absoluteFilePath(LockName)),
          Log(logFile.isEmpty() ? QString() : QDir::current().absoluteFilePath(logFile))
    {
    }
    TFileLock Lock; // held until the process ends, however long the run
    TRunLog Log;
};

// What the upgrade run reports, passed on to the session's observer, with
// the failed script saved to its error file.
namespace {

class TUpgradeReports : public TUpgradeObserver {
public:
    TUpgradeReports(TSessionObserver& observer, const std::function<void(const QString&)>& log)
        : FObserver(observer), FLog(log)
    {
    }
    bool ScriptFailedHere = false;
    QString FailedVersion; // of the script that failed here

    void Progress(int position) override { FObserver.UpgradeProgress(position); }
    void ScriptDone(const QString& entry, const QString& versao, bool ok) override
    {
        FLog(QStringLiteral("script ") + versao + QStringLiteral(" em ") + entry + (ok ? QStringLiteral(": executado") : QStringLiteral(": falhou")));
        if (!ok)
            FailedVersion = versao;
        FObserver.ScriptDone(entry, versao, ok);
    }
    void BackupMade(const QString& entry, const QString& file) override
    {
        FBackup = file;
        FLog(QStringLiteral("cópia de segurança de ") + entry + QStringLiteral(": ") + file);
    }
    QString ErrorFile() const override { return FErrorFile; }
    void ScriptFailed(const QString& entry, const QString& message, const QStringList& saved) override
    {
        ScriptFailedHere = true;
        const QString fileName = NomeArquivoErro(entry, Now());
        FErrorFile.clear();
        FLog(QStringLiteral("erro no script: ") + message +
             (FBackup.isEmpty() ? QString() : QStringLiteral(" (cópia de segurança: ") + FBackup + u')'));
        try {
            WriteAnsiLines(fileName, saved);
        } catch (const std::exception& error) {
            FLog(QStringLiteral("arquivo de erro não gravado: ") + ErrorText(error));
            FObserver.Error(ErrorText(error));
            return;
        }
        FErrorFile = fileName;
        FLog(QStringLiteral("script salvo em ") + fileName);
        FObserver.ScriptSaved(fileName);
    }
    void Finished(const TUpgradeOutcome& outcome) override
    {
        if (!outcome.Completed) {
            FLog(QStringLiteral("atualização da base interrompida: ") + outcome.Error);
            FObserver.UpgradeFailed(outcome.Error);
        }
    }

private:
    TSessionObserver& FObserver;
    std::function<void(const QString&)> FLog;
    QString FBackup;
    QString FErrorFile;
};

} // namespace

// What the synchronisation reports, passed on to the session's observer and
// written to the run log (the listing, each refusal with its reason, a
// failed replacement), and the run's facts gathered as they happen.
class TUpdateSession::TRunReports : public TUpdateObserver {
public:
    TRunReports(TSessionObserver& observer, const std::function<void(const QString&)>& log)
        : FObserver(observer), FLog(log)
    {
    }

    QList<int> Fetched;          // the plan's items fetched, in order
    QHash<int, std::int64_t> ByDelta; // the items rebuilt from a patch: its size
    bool WasReplaced = false;    // the main executable was replaced
    bool Failed = false;         // a file or the replacement failed
    QString ReplacementFailure;  // why the replacement did not happen
    const TUpdatePlan& Plan() const { return FPlan; }
    // What the fetched files cost the line (a patch's size where one served) and their full size.
    std::int64_t Moved() const { return Sum(true); }
    std::int64_t Full() const { return Sum(false); }

    void Waiting() override { FObserver.Waiting(); }
    void Listed(const QStringList& lines) override
    {
        FLog(QStringLiteral("listagem: %1 linhas").arg(lines.size()));
        FObserver.Listed(lines);
    }
    void Planned(const TUpdatePlan& plan) override
    {
        FPlan = plan;
        FObserver.Planned(plan);
    }
    void FileStarted(int index, const QString& name) override { FObserver.FileStarted(index, name); }
    void SizeKnown(std::uint32_t bytesToTransfer) override { FObserver.SizeKnown(bytesToTransfer); }
    void StateChanged(int index, TNodeState state) override { FObserver.StateChanged(index, state); }
    void FileFetched(int index) override { Fetched.append(index); }
    void DeltasRead(const QString& problem) override
    {
        FLog(problem.isEmpty() ? QStringLiteral("deltas: índice assinado lido")
                               : QStringLiteral("deltas: não usados: ") + problem);
        FObserver.DeltasRead(problem);
    }
    void FetchedByDelta(int index, std::int64_t patchSize, std::int64_t fileSize) override
    {
        ByDelta.insert(index, patchSize);
        FObserver.FetchedByDelta(index, patchSize, fileSize);
    }
    void DeltaFailed(int index, const QString& reason) override
    {
        FLog(QStringLiteral("delta ") + FPlan.Items.value(index).Name + QStringLiteral(" falhou, baixando o arquivo inteiro: ") +
             reason);
        FObserver.DeltaFailed(index, reason);
    }
    // Passed on once the files are logged: the log keeps the run's order.
    void Replaced(const QString&) override { WasReplaced = true; }
    void FileFailed(int index, const QString& message) override
    {
        Failed = true;
        FLog(QStringLiteral("recusado ") + FPlan.Items.value(index).Name + QStringLiteral(": ") + message);
        FObserver.FileFailed(index, message);
    }
    void ReplacementFailed(const QString& message) override
    {
        Failed = true;
        ReplacementFailure = message;
        FLog(QStringLiteral("substituição falhou: ") + message);
        FObserver.ReplacementFailed(message);
    }

private:
    std::int64_t Sum(bool moved) const
    {
        std::int64_t total = 0;
        for (int index : Fetched) {
            const std::int64_t patch = ByDelta.value(index, -1);
            total += moved && patch >= 0 ? patch : FullSize(FPlan.Items.value(index));
        }
        return total;
    }

    TSessionObserver& FObserver;
    std::function<void(const QString&)> FLog;
    TUpdatePlan FPlan;
};

TUpdateSession::TUpdateSession(TSessionObserver& observer, const QString& logFile)
    : FObserver(observer), FFolder(std::make_unique<TFolderFiles>(logFile)), FCatalogue(std::make_unique<TDatabase>()),
      FCustomer(std::make_unique<TIBDatabase>())
{
    ConfiguraConexoes(*FCatalogue, *FCustomer);
    FUpgrade = std::make_unique<TUpgradeRun>(*FCatalogue, *FCustomer);
    FUpgrade->SetBackupFolder(QDir::current().absoluteFilePath(BackupFolder));
    FUpgrade->SetHistory(Settings::UpgradeHistory, QLatin1String(Settings::UpdaterVersion));
    FUpgrade->SetStopRequest([this] { return FStop.load(); });
    AjustaFtp(FFtp);
    FFtp.StopRequest = &FStop;
    LigaEventos();
}

TUpdateSession::~TUpdateSession()
{
    // The run's statements and transactions go before the connections they use.
    FUpgrade.reset();
    FCustomer.reset();
}

void TUpdateSession::LigaEventos()
{
    FFtp.OnStatus = [this](TIdBaseComponent*, TIdStatus status, const QString& text) { FObserver.Status(status, text); };
    FFtp.OnWorkBegin = [this](TIdBaseComponent*, TWorkMode, std::int64_t) { FObserver.TransferBegin(); };
    FFtp.OnWork = [this](TIdBaseComponent*, TWorkMode, std::int64_t count) { FObserver.TransferProgress(count); };
    FFtp.OnWorkEnd = [this](TIdBaseComponent*, TWorkMode mode) { FObserver.TransferEnd(mode); };
}

void TUpdateSession::Log(const QString& event)
{
    FFolder->Log.Line(event);
}

// A file the plan fetches: its size (and the patch's, when one rebuilt it)
// and time once it arrived, else that the previous copy stayed.
void TUpdateSession::LogArquivo(const TPlanItem& item, bool fetched, std::int64_t patchSize)
{
    if (item.Decision != fdBaixar && item.Decision != fdRecusado)
        return;
    QString what = DecisionText(item.Decision);
    const QString when = item.RemoteTime.ToQDateTime().toString(Qt::ISODate);
    if (fetched && patchSize >= 0)
        what = QStringLiteral("baixado: delta %1 bytes de %2, de %3").arg(patchSize).arg(FullSize(item)).arg(when);
    else if (fetched)
        what = QStringLiteral("baixado: %1 bytes, de %2").arg(FullSize(item)).arg(when);
    else if (item.Decision == fdBaixar)
        what = QStringLiteral("não baixado");
    Log(QStringLiteral("arquivo ") + item.Name + u' ' + what);
}

std::optional<TRefusal> TUpdateSession::Inicia(TStart start)
{
    const bool lockFile = FileExists(FFolder->Lock.Path()) || IsLink(FFolder->Lock.Path());
    if ((start == stUpdate || lockFile) && !Bloqueia())
        return TRefusal{rcOcupada, QStringLiteral("Outra atualização desta pasta está em andamento."), {}, {}};
    if (const QString pending = start == stHistoryOnly ? QString() : ArquivoErroPendente(); !pending.isEmpty())
        return TRefusal{rcScriptErro,
                        QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + pending +
                            QStringLiteral("\nUm script falhou numa atualização anterior: contate a Belmora "
                                           "Sistemas e remova o arquivo para atualizar de novo."),
                        {},
                        pending};
    if (std::optional<TCheckFailure> failure = Verifica())
        return TRefusal{rcVerificacao, failure->Message, failure, {}};
    return std::nullopt;
}

bool TUpdateSession::BaseClienteAberta() const
{
    return FCustomer->Connected();
}

bool TUpdateSession::Bloqueia()
{
    if (FFolder->Lock.TryLock())
        return true;
    if (!FFolder->Lock.Error().isEmpty())
        Log(QStringLiteral("trava ") + FFolder->Lock.Path() + QStringLiteral(" não obtida: ") + FFolder->Lock.Error());
    return false;
}

std::optional<TCheckFailure> TUpdateSession::Verifica()
{
    FObserver.Stage(QStringLiteral("Verificando a instalação"));
    FExecutavelVerificado = false;
    FAliases.clear();
    FAlias.clear();
    std::optional<TCheckFailure> failure = VerificaProgramFiles(FProgr);
    if (!failure)
        failure = VerificaArquivos(FProgr, FAlias);
    if (!failure) {
        FExecutavelVerificado = true;
        failure = VerificaBases(FAlias, *FCatalogue, *FCustomer);
    }
    if (failure) {
        Log(QStringLiteral("verificação falhou: ") + failure->Message);
        return failure;
    }
    FAliases << FAlias;
    return std::nullopt;
}

void TUpdateSession::Cancela()
{
    FStop = true;
}

TUpdateOutcome TUpdateSession::Atualiza()
{
    Log(QStringLiteral("início da atualização em ") + QDir::currentPath());
    TCatalogReport report(FCatalogue->DatabaseName(), FFace, [this](const QString& event) { Log(event); });
    TRunEvent facts;
    FScriptFalhou.clear();
    report.Start([&] { return facts = FatosDoInicio(); });
    TRunReports reports(FObserver, [this](const QString& event) { Log(event); });
    EscolheFonte();
    TUpdateRun run(*FSource, reports, FProgr, FStop);
    TUpdateOutcome outcome = Sincroniza(run, reports);
    if (outcome.Result == urSucesso && FStop)
        outcome = {urCancelada, QStringLiteral("Atualização interrompida.")};
    if (outcome.Result == urSucesso)
        outcome = AtualizaBases(FAliases);
    Log(QStringLiteral("fim: ") + outcome.TextoFinal() + (outcome.Causa.isEmpty() ? QString() : QStringLiteral(" (") + outcome.Causa + u')'));
    report.End([&] { return FatosDoFim(facts, outcome, reports); });
    FStop = false; // the request ends with the run it stopped
    return outcome;
}

namespace {

// The outcome as the catalogue's rows name it.
QString ResultText(TUpdateResult result)
{
    switch (result) {
    case urSucesso:
        return QStringLiteral("sucesso");
    case urErros:
        break;
    case urScriptFalhou:
        return QStringLiteral("script");
    case urCancelada:
        return QStringLiteral("cancelada");
    case urSemConexao:
        return QStringLiteral("sem_conexao");
    }
    return QStringLiteral("erros");
}

// The serial of the release accepted in the folder; none before the first.
std::optional<qint64> AcceptedSerial()
{
    const qint64 serial = LastAcceptedSerial(QDir::currentPath());
    return serial > 0 ? std::optional(serial) : std::nullopt;
}

} // namespace

// VERSAO of the alias's database as it stands: null when it cannot be read,
// which a report may well say.
TRunEvent TUpdateSession::FatosDoInicio()
{
    TRunEvent facts;
    facts.Alias = FAlias;
    facts.SerieAntes = AcceptedSerial();
    try {
        facts.VersaoAntes = FUpgrade->RecordedVersion(FAlias);
    } catch (const std::exception&) {
    }
    return facts;
}

TRunEvent TUpdateSession::FatosDoFim(TRunEvent facts, const TUpdateOutcome& outcome, const TRunReports& reports)
{
    facts.Resultado = ResultText(outcome.Result);
    facts.Causa = outcome.Causa;
    facts.SerieDepois = AcceptedSerial();
    try {
        facts.VersaoDepois = FUpgrade->RecordedVersion(FAlias);
    } catch (const std::exception&) {
    }
    facts.Arquivos = reports.Fetched.size();
    facts.Bytes = reports.Moved();
    facts.ScriptFalhou = FScriptFalhou;
    return facts;
}

// Everything up to the upgrade: the connection, the files, the replacement;
// the session closed in every case.
TUpdateOutcome TUpdateSession::Sincroniza(TUpdateRun& run, const TRunReports& reports)
{
    TUpdateOutcome outcome;
    try {
        FObserver.Stage(QStringLiteral("Conectando"));
        std::unique_ptr<TSignedRelease> release;
        try {
            release = Conecta(run);
        } catch (const EUpdateConnectError& error) {
            Log(QStringLiteral("sem conexão: ") + error.Message());
            return {urSemConexao, error.Message()};
        }
        // Before the first file is installed: a run that installs some and
        // fails on another must not let the older release in again.
        if (release) {
            AcceptRelease(QDir::currentPath(), FManifestBytes);
            FSource->VersaoAceita();
        }
        if (FExecutavelVerificado) {
            FObserver.Stage(QStringLiteral("Listando"));
            const TUpdatePlan& plan = run.Planeja();
            FObserver.Stage(QStringLiteral("Baixando"));
            run.Executa(MainExecutable);
            for (int i = 0; i < plan.Items.size(); ++i)
                LogArquivo(plan.Items.at(i), reports.Fetched.contains(i), reports.ByDelta.value(i, -1));
            if (!reports.Fetched.isEmpty())
                Log(TransferText(reports.Moved(), reports.Full()));
            if (reports.WasReplaced) {
                Log(QStringLiteral("substituição: ") + MainExecutable + QStringLiteral(" substituído"));
                FObserver.Replaced(MainExecutable);
            }
        }
    } catch (const std::exception& error) {
        if (!run.Cancelado()) {
            // Nothing is fetched or replaced after an error the run did not expect.
            outcome = {urErros, ErrorText(error)};
            Log(QStringLiteral("erro: ") + outcome.Causa);
            FObserver.Error(outcome.Causa);
        }
    }
    FObserver.Stage(QStringLiteral("Desconectando"));
    run.Desconecta();
    if (run.Cancelado())
        return {urCancelada, QStringLiteral("Atualização interrompida.")};
    if (outcome.Result == urSucesso && reports.Failed)
        outcome = {urErros, !reports.ReplacementFailure.isEmpty() ? reports.ReplacementFailure
                                                                  : QStringLiteral("Um ou mais arquivos não foram atualizados.")};
    return outcome;
}

// A script that failed once in the session's life keeps every later run
// from reporting success, so the operator calls the maker.
TUpdateOutcome TUpdateSession::AtualizaBases(const QStringList& aliases)
{
    FObserver.Stage(QStringLiteral("Atualizando a base de dados"));
    try {
        if (!FCatalogue->Connected())
            FCatalogue->Open();
    } catch (const std::exception& error) {
        return {urErros, ErrorText(error)};
    }
    TUpgradeReports reports(FObserver, [this](const QString& event) { Log(event); });
    TUpgradeOutcome upgrade;
    FObserver.UpgradeBegin();
    upgrade = FUpgrade->Run(aliases, reports);
    FObserver.UpgradeEnd();
    FScriptFalhou = reports.FailedVersion;
    if (reports.ScriptFailedHere)
        FScriptFailed = true;
    if (FScriptFailed)
        return {urScriptFalhou, QStringLiteral("Um script falhou: veja o arquivo SCRIPT_ERRO.")};
    if (!upgrade.Completed)
        return {urErros, upgrade.Error};
    return {};
}

// The release's signed manifest, read and checked before anything is
// fetched; nothing without a trusted key, unless the folder accepted a
// signed release before. A missing, unsigned, altered, unknown-key, expired
// or older release raises EReleaseError, which ends the run.
std::unique_ptr<TSignedRelease> TUpdateSession::VerificaVersao()
{
    const QList<TPublicKey> keys = TrustedKeys(Settings::ReleasePublicKeys);
    CheckVerifiable(QDir::currentPath(), keys);
    if (keys.isEmpty() && FSource->ExigeAssinatura())
        throw EReleaseError(QStringLiteral(
            "Atualização pela web recusada: nenhuma chave de assinatura confiável está configurada, e uma versão "
            "baixada pela web só é instalada com a assinatura conferida (veja ") + ReleaseKeysFile() + u')');
    FReleaseKeys = keys;
    if (keys.isEmpty())
        return nullptr;
    FObserver.Stage(QStringLiteral("Conferindo a assinatura da versão"));
    const QString accepted = QDir::current().filePath(QLatin1String(AcceptedReleaseName));
    const TReleaseFiles files = FSource->LeVersao(FileExists(accepted) ? ReadFileBytes(accepted) : QByteArray());
    FManifestBytes = files.Manifest;
    auto release = std::make_unique<TSignedRelease>(VerifyRelease(FManifestBytes, files.Signature, keys));
    CheckAgainstAccepted(QDir::currentPath(), FManifestBytes);
    Log(QStringLiteral("versão %1 assinada pela chave %2").arg(release->Manifest.Serial).arg(release->KeyId));
    return release;
}

// The settings of atualiza.cfg, the password, the connection and, with a
// trusted key, the signed release the run is then held to (it must outlive
// the run's use of it).
std::unique_ptr<TSignedRelease> TUpdateSession::Conecta(TUpdateRun& run)
{
    const TConfiguracao settings = LeConfiguracao();
    Log(QStringLiteral("servidor ") + FSource->Descricao(settings) + QStringLiteral(", senha de ") + settings.PasswordField());
    run.Conecta(settings, SenhaFtp(settings));
    std::unique_ptr<TSignedRelease> release = VerificaVersao();
    run.UsaManifesto(release ? &release->Manifest : nullptr, FReleaseKeys);
    return release;
}

// The source the first line of atualiza.cfg names; an unreadable file
// keeps FTP, and the run's own reading of it reports the error.
void TUpdateSession::EscolheFonte()
{
    TConfiguracao settings;
    try {
        settings = LeConfiguracao();
    } catch (const std::exception&) {
        // Conecta reads it again and ends the run with the error
    }
    FSource = CriaFonte(settings, FFtp, FStop);
    FSource->OnWorkBegin = [this] { FObserver.TransferBegin(); };
    FSource->OnWork = [this](std::int64_t count) { FObserver.TransferProgress(count); };
    FSource->OnWorkEnd = [this] { FObserver.TransferEnd(wmRead); };
}

TUpdatePlan TUpdateSession::PlanoDosArquivos(std::optional<TSignedRelease>* release)
{
    EscolheFonte();
    TUpdateRun run(*FSource, FObserver, FProgr, FStop);
    try {
        const std::unique_ptr<TSignedRelease> verified = Conecta(run);
        TUpdatePlan plan = run.Planeja();
        run.Desconecta();
        if (release && verified)
            *release = *verified;
        return plan;
    } catch (...) {
        run.Desconecta();
        throw;
    }
}

TUpgradePlan TUpdateSession::PlanoDaBase(const QString& alias)
{
    return FUpgrade->Plan(alias);
}

THistoryReport TUpdateSession::HistoricoDaBase(const QString& alias)
{
    if (!FCatalogue->Connected())
        FCatalogue->Open();
    return FUpgrade->History(alias);
}
