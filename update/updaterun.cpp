#include "update/updaterun.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"
#include "ftp/resume.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "release/release.h"
#include "settings.h"
#include "update/helpers.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>

namespace {

const QString CatalogueName = QStringLiteral("Sistema_my");

TPauseFunction& Pause()
{
    static TPauseFunction pause;
    return pause;
}

// False when keepWaiting asked to stop during the pause.
bool Pausa(int milliseconds, const TKeepWaiting& keepWaiting)
{
    if (Pause()) {
        Pause()(milliseconds);
        return !keepWaiting || keepWaiting();
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QThread::msleep(ulong(std::min<qint64>(50, milliseconds - clock.elapsed())));
        if (keepWaiting && !keepWaiting())
            return false;
    }
    return true;
}

// Day, month, four-digit year, hour and minute: seconds never count.
QString ToTheMinute(TDateTime time)
{
    const TDateParts d = DecodeDate(time);
    const TTimeParts t = DecodeTime(time);
    return QString::asprintf("%02d/%02d/%04d %02d:%02d", d.Day, d.Month, d.Year, t.Hour, t.Min);
}

// The text up to and including the last separator of either kind.
QString FolderPart(const QString& path)
{
    const qsizetype sep = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.left(sep + 1);
}

} // namespace

// ---------------------------------------------------------------- checks

QString ArchiverDownloadPage()
{
    return QLatin1String(Settings::DownloadSite) + QStringLiteral("/winrar.exe");
}

std::optional<TCheckFailure> VerificaProgramFiles(QString& progr)
{
    try {
        progr = program_files();
    } catch (const std::exception& error) {
        return TCheckFailure{ckRegistry, QStringLiteral("Não foi possível ler a pasta de programas no registro: ") +
                                             ErrorText(error)};
    }
    return std::nullopt;
}

QString AliasDoIni(const QString& path)
{
    const QStringList lines = ReadAnsiLines(path);
    return TrimControl(lines.isEmpty() ? QString() : lines.front().mid(14, 30));
}

std::optional<TCheckFailure> VerificaArquivos(const QString& progr, QString& alias)
{
    if (!FileExists(ArchiverPath(progr)))
        return TCheckFailure{ckArchiver, QStringLiteral("Favor fazer a instalação do Winrar Primeiro. Voce será "
                                                        "redirecionado para o download.")};
    if (!FileExists(MainExecutable) && !FileExists(MainBackup))
        return TCheckFailure{ckMainExecutable, QStringLiteral("Arquivo Quendarive.exe não encontrado nesta pasta que "
                                                              "você executou o atualiza_keldarin.exe")};
    if (!FileExists(SettingsFile))
        return TCheckFailure{ckSettingsFile, QStringLiteral("Arquivo Tolvenra.ini não encontrado nesta pasta que "
                                                            "você executou o atualiza_keldarin.exe")};
    try {
        alias = AliasDoIni(SettingsFile);
    } catch (const std::exception& error) {
        return TCheckFailure{ckSettingsUnreadable,
                             QStringLiteral("Arquivo Tolvenra.ini encontrado, mas não pôde ser lido: ") + ErrorText(error)};
    }
    return std::nullopt;
}

std::optional<TCheckFailure> VerificaBases(const QString& alias, TDatabase& catalogue, TIBDatabase& customer)
{
    const QString path = PegaBDEdados(alias, QStringLiteral("SERVER NAME"));
    if (path.isEmpty())
        return TCheckFailure{ckAlias, QStringLiteral("Alias ") + alias + QStringLiteral(" do BDE não encontrado.")};
    customer.SetDatabaseName(path);
    try {
        catalogue.Open();
    } catch (const std::exception&) {
        catalogue.Close();
        return TCheckFailure{ckCatalogue, QStringLiteral("Conexão com o MYSQL da internet não localizado.")};
    }
    // A failure to close it again counts like a failure to open it.
    try {
        customer.Open();
        customer.Close();
    } catch (const std::exception&) {
        catalogue.Close();
        try {
            customer.Close();
        } catch (const std::exception&) {
            // it never opened, or is lost already
        }
        return TCheckFailure{ckCustomerDatabase, QStringLiteral("Alias ") + alias +
                                                     QStringLiteral(" encontrado, mas arquivo apontado por ele ") +
                                                     path + QStringLiteral(" não foi encontrado.")};
    }
    return std::nullopt;
}

// -------------------------------------------------------------- settings

QString TConfiguracao::PasswordField() const
{
    return SenhaAlternativa ? QStringLiteral("senha_ftp2") : QStringLiteral("senha_ftp");
}

TConfiguracao LeConfiguracao()
{
    TConfiguracao settings;
    settings.Host = QLatin1String(Settings::FtpHost);
    if (!QFileInfo::exists(ConnectionFile))
        return settings;
    const QStringList lines = ReadAnsiLines(ConnectionFile);
    const auto line = [&](int i) { return i < lines.size() ? lines.at(i) : QString(); };
    settings.Host = line(0);
    bool ok = false;
    const int port = line(1).trimmed().toInt(&ok, 10);
    if (!ok || port < 0 || port > 65535)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(line(1)));
    settings.Port = std::uint16_t(port);
    settings.Passive = UpperCase(line(2)) != QStringLiteral("FALSE");
    settings.SenhaAlternativa = !line(3).isEmpty();
    settings.Tls = UpperCase(TrimControl(line(4))) == QStringLiteral("TLS");
    return settings;
}

QString SenhaFtp(const TConfiguracao& settings)
{
    TQuery query;
    query.setObjectName(QStringLiteral("Query3"));
    query.SetDatabaseName(CatalogueName);
    query.SetSQL({QStringLiteral("select ") + settings.PasswordField() + QStringLiteral(" from principal")});
    query.Open();
    const QString scrambled = query.FieldByName(settings.PasswordField()).AsString();
    query.Close();
    return DecodificaTexto(scrambled);
}

void AjustaFtp(TIdFTP& ftp)
{
    ftp.Passive = true;
    ftp.ConnectTimeout = 30000;
    ftp.ReadTimeout = 60000;
    ftp.TransferTimeout = 60000;
}

// ------------------------------------------------------------------ plan

QString DecisionText(TFileDecision decision)
{
    switch (decision) {
    case fdBaixar:
        return QStringLiteral("baixar");
    case fdAtualizado:
        return QStringLiteral("atualizado");
    case fdNuncaBaixado:
        return QStringLiteral("nunca baixado");
    case fdRecusado:
        return QStringLiteral("recusado");
    case fdPasta:
        return QStringLiteral("pasta");
    case fdManifesto:
        return QStringLiteral("manifesto");
    case fdSemItem:
        break;
    }
    return {};
}

TNodeState TPlanItem::State() const
{
    switch (Decision) {
    case fdBaixar:
    case fdRecusado:
        return nsRed;
    case fdAtualizado:
    case fdNuncaBaixado:
    case fdPasta:
    case fdManifesto:
        return nsGreen;
    case fdSemItem:
        break;
    }
    return nsNone;
}

bool TUpdatePlan::AnyToFetch() const
{
    return std::any_of(Items.begin(), Items.end(), [](const TPlanItem& i) { return i.Decision == fdBaixar; });
}

bool TUpdatePlan::Fetches(const QString& name) const
{
    return std::any_of(Items.begin(), Items.end(),
                       [&](const TPlanItem& i) { return i.Decision == fdBaixar && i.Name == name; });
}

namespace {

// The one rule of the plan and the run: the main executable is replaced
// after anything was fetched, when it is missing, or when an earlier run
// left its replacement pending; never after an error; only from the archive.
bool SubstituicaoDevida(bool fetched, bool failed, bool archive)
{
    return (fetched || !FileExists(MainExecutable) || SubstituicaoPendente()) && !failed && archive;
}

} // namespace

bool TUpdatePlan::ReplacementExpected() const
{
    const bool refused =
        std::any_of(Items.begin(), Items.end(), [](const TPlanItem& i) { return i.Decision == fdRecusado; });
    return SubstituicaoDevida(AnyToFetch(), refused, FileExists(MainArchive) || Fetches(MainArchive));
}

QString MotivoRecusa(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("nome vazio");
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("o nome contém caracteres de controle");
    if (name.contains(u'/') || name.contains(u'\\'))
        return QStringLiteral("o nome contém um separador de pastas");
    if (name.contains(u':'))
        return QStringLiteral("o nome indica uma unidade ou um caminho absoluto");
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QStringLiteral("o nome aponta para fora da pasta da instalação");
    return {};
}

bool ArquivoDiferente(const QString& name, TDateTime remoteTime)
{
    const TDateTime local = FileAge(name).value_or(Today());
    return ToTheMinute(local) != ToTheMinute(remoteTime);
}

TUpdatePlan PlanejaAtualizacao(const QStringList& lines, const TIdFTPListItems& items, const TManifest* manifest)
{
    TUpdatePlan plan;
    int next = 0;
    for (const QString& line : lines) {
        TPlanItem entry;
        entry.Line = line;
        // Entries keep their line and its order; a line without one (a
        // "total" line, a header) is shown but never judged.
        if (next < items.Count() && items.Items(next).Data() == line) {
            const TIdFTPListItem& item = items.Items(next++);
            entry.Name = item.FileName();
            entry.RemoteTime = item.ModifiedDate();
            if (item.SizeAvail())
                entry.ListedSize = item.Size();
            entry.Reason = MotivoRecusa(entry.Name);
            if (entry.Name == DllsEntry)
                entry.Decision = fdNuncaBaixado;
            else if (item.ItemType() == ditDirectory)
                entry.Decision = fdPasta;
            else if (manifest && (entry.Name == QLatin1String(ReleaseManifestName) ||
                                  entry.Name == QLatin1String(ReleaseSignatureName)))
                entry.Decision = fdManifesto;
            else if (manifest && entry.Reason.isEmpty() && !manifest->Find(entry.Name)) {
                entry.Decision = fdRecusado;
                entry.Reason = QStringLiteral("o arquivo não consta do manifesto assinado da versão");
            }
            else if (!entry.Reason.isEmpty())
                entry.Decision = fdRecusado;
            else
                entry.Decision = ArquivoDiferente(entry.Name, entry.RemoteTime) ? fdBaixar : fdAtualizado;
        }
        plan.Items.append(entry);
    }
    return plan;
}

bool SubstituicaoNecessaria(bool downloaded, bool failed)
{
    return SubstituicaoDevida(downloaded, failed, FileExists(MainArchive));
}

bool SubstituicaoPendente()
{
    return FileExists(PendingReplacementFile);
}

void MarcaSubstituicaoPendente()
{
    WriteFileBytes(PendingReplacementFile, (MainExecutable + QStringLiteral(" a substituir de ") + MainArchive +
                                            QStringLiteral(", registrado em ") +
                                            Now().ToQDateTime().toString(Qt::ISODate) + u'\n')
                                               .toUtf8());
}

void BaixaArquivo(TIdFTP& ftp, const TPlanItem& item, std::int64_t expectedSize, const TFetchedFileCheck& check)
{
    if (expectedSize >= 0)
        TPartialDownload(item.Name).Fetch(ftp, item.Name, {item.RemoteTime, expectedSize, item.Line, {}}, check);
    else if (check) // a file to be judged is held to its size
        throw Exception(QStringLiteral("O servidor não informou o tamanho de ") + item.Name +
                        QStringLiteral(": o arquivo não pode ser conferido."));
    else
        ftp.Get(item.Name, item.Name, true, false, expectedSize);
    FileSetDate(item.Name, item.RemoteTime); // outside 1980..2107 the file keeps its time
}

// ----------------------------------------------------------- replacement

void SetPauseFunction(TPauseFunction pause)
{
    Pause() = std::move(pause);
}

QString LinhaDeComando(const QString& progr, const QString& destination)
{
    return QDir::toNativeSeparators(ArchiverPath(progr)) + QStringLiteral(" x -o+ ") + MainArchive +
           QStringLiteral(" *.exe \"") + destination + u'"';
}

// A link in the staging folder's place, or inside it, goes as a link: what
// it names is never emptied.
bool LimpaExtracao()
{
    return RemoveTree(StagingFolder);
}

namespace {

// Why the archiver's work cannot be used, or empty when it can.
QString MotivoFalhaExtracao(const TProcessResult& result, const QString& staged)
{
    switch (result.End) {
    case peNotStarted:
        return QStringLiteral("o descompactador não pôde ser iniciado (") + result.Error + u')';
    case peCrashed:
        return QStringLiteral("o descompactador terminou de forma anormal");
    case peTimedOut:
        return QStringLiteral("o descompactador não terminou em %1 segundos").arg(ArchiverTimeoutMs / 1000);
    case peStopped:
        return QStringLiteral("a atualização foi interrompida");
    case peExited:
        break;
    }
    if (result.ExitCode != 0)
        return QStringLiteral("o descompactador terminou com o código %1 (arquivo %2 danificado ou disco cheio?)")
            .arg(result.ExitCode)
            .arg(MainArchive);
    if (QFileInfo(staged).size() <= 0)
        return MainArchive + QStringLiteral(" não trouxe o ") + MainExecutable;
    return {};
}

// Every file the archiver left in the staging folder, renamed to its place
// in the installation folder (an existing file is replaced in one step).
QString MoveStagedFiles(const QString& folder)
{
    if (IsLink(StagingFolder)) // swapped while the archiver ran: its files are not ours
        return QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" foi trocada por um link");
    const QDir staging(QDir::current().absoluteFilePath(StagingFolder));
    QDirIterator it(staging.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = folder + staging.relativeFilePath(from);
        if (const QString failed = ReplaceFile(from, to); !failed.isEmpty())
            return QStringLiteral("não foi possível colocar ") + to + QStringLiteral(" no lugar (") + failed + u')';
    }
    return {};
}

// The previous program back in place, the staging folder and the archive gone.
void DesfazSubstituicao(const QString& mainExecutable, const QString& backup)
{
    if (IsLink(mainExecutable)) // not the program: a link planted in its place goes as a link
        DeleteFile(mainExecutable);
    if (!FileExists(mainExecutable) && FileExists(backup))
        CopyFileNoOverwrite(backup, mainExecutable); // written aside and renamed: never half a program
    LimpaExtracao();
    DeleteFile(MainArchive); // so the next run fetches it again
}

} // namespace

TSubstituicao SubstituiExecutavel(const QString& mainExecutable, const QString& progr, const TKeepWaiting& keepWaiting)
{
    TSubstituicao result;
    const QString folder = FolderPart(mainExecutable);
    const QString backup = folder + MainBackup;
    const auto fail = [&](const QString& cause) {
        DesfazSubstituicao(mainExecutable, backup);
        result.Failed = true;
        result.Message = QStringLiteral("Não foi possível substituir ") + mainExecutable + QStringLiteral(": ") + cause +
                         QStringLiteral(". O programa anterior foi mantido.");
        return result;
    };
    const auto stop = [&] {
        DesfazSubstituicao(mainExecutable, backup);
        result.Cancelled = true;
        return result;
    };
    if (!LimpaExtracao())
        return fail(QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" não pôde ser esvaziada"));
    if (FileExists(mainExecutable)) {
        // The program is only deleted once a whole copy of it is kept.
        DeleteFile(backup);
        if (!CopyFileNoOverwrite(mainExecutable, backup))
            return fail(QStringLiteral("a cópia de segurança ") + backup + QStringLiteral(" não pôde ser criada"));
        DeleteFile(mainExecutable);
    }
    while (FileExists(mainExecutable) && result.Pauses < 5) {
        const bool goOn = Pausa(1000, keepWaiting);
        ++result.Pauses;
        if (!goOn)
            return stop();
    }
    if (FileExists(mainExecutable)) {
        result.Failed = true;
        result.Message = QStringLiteral("Não foi possível apagar arquivo ") + mainExecutable + u'.';
        LimpaExtracao();
        DeleteFile(MainArchive); // so the next run fetches it again
        return result;
    }
    if (!QDir().mkdir(StagingFolder)) // made new here, so never a link
        return fail(QStringLiteral("a pasta ") + StagingFolder + QStringLiteral(" não pôde ser criada"));
    result.CommandLine = LinhaDeComando(progr, StagingFolder + QDir::separator());
    const TProcessResult archiver = RunProcess(FromAnsi(ToAnsi(result.CommandLine)), QDir::currentPath(),
                                               ArchiverTimeoutMs, keepWaiting);
    if (archiver.End == peStopped)
        return stop();
    QString cause = MotivoFalhaExtracao(archiver, StagingFolder + u'/' + QFileInfo(mainExecutable).fileName());
    if (cause.isEmpty())
        cause = MoveStagedFiles(folder);
    if (!cause.isEmpty())
        return fail(cause);
    LimpaExtracao();
    DeleteFile(folder + PendingReplacementFile);
    return result;
}

// ------------------------------------------------------------------- run

TUpdateRun::TUpdateRun(TIdFTP& ftp, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop)
    : FFtp(ftp), FObserver(observer), FProgr(std::move(progr)), FStop(stop)
{
    FFtp.OnWait = [this] { FObserver.Waiting(); };
}

TUpdateRun::~TUpdateRun()
{
    FFtp.OnWait = nullptr;
}

void TUpdateRun::Conecta(const TConfiguracao& settings, const QString& password)
{
    FFtp.Host = settings.Host;
    FFtp.Port = settings.Port;
    FFtp.Username = QLatin1String(Settings::FtpUser);
    FFtp.Password = password;
    FFtp.Passive = settings.Passive;
    FFtp.UseTLS = settings.Tls ? utRequireTLS : utNoTLS;
    try {
        CheckCancelled();
        FFtp.Connect();
    } catch (const std::exception& error) {
        CheckCancelled();
        throw EUpdateConnectError(QStringLiteral("Não foi possível estabelecer conexão ftp.\r\rTENTE MAIS TARDE.\r") +
                                  ErrorText(error));
    }
    FFtp.SetTransferType(ftBinary);
    FFtp.ChangeDir(ServerFolder);
}

void TUpdateRun::CheckCancelled() const
{
    if (FStop)
        throw EUpdateCancelled();
}

const TUpdatePlan& TUpdateRun::Planeja()
{
    QStringList lines;
    try {
        FFtp.List(&lines);
    } catch (const std::exception&) {
        CheckCancelled();
        throw;
    }
    CheckCancelled();
    FObserver.Listed(lines);
    FPlan = PlanejaAtualizacao(lines, FFtp.DirectoryListing(), FManifest);
    FObserver.Planned(FPlan);
    return FPlan;
}

// What interrupted downloads left for files the server no longer lists, or
// left over a week ago, goes.
void TUpdateRun::LimpaParciais() const
{
    QStringList listed;
    for (const TPlanItem& item : FPlan.Items)
        if (item.Decision == fdBaixar)
            listed << item.Name;
    RemoveStalePartials(QDir::currentPath(), listed, QDateTime::currentDateTime());
}

void TUpdateRun::Sincroniza(const QString& mainExecutable)
{
    Planeja();
    Executa(mainExecutable);
}

void TUpdateRun::Executa(const QString& mainExecutable)
{
    LimpaParciais();
    // Before the first change: killed anywhere from here to the new program
    // in place, the next run still replaces.
    if (FPlan.ReplacementExpected() && !SubstituicaoPendente())
        MarcaSubstituicaoPendente();
    for (int i = 0; i < FPlan.Items.size(); ++i) {
        CheckCancelled();
        const TPlanItem& item = FPlan.Items.at(i);
        if (item.Decision == fdSemItem)
            continue;
        FObserver.FileStarted(i, item.Name);
        if (item.Decision == fdRecusado) {
            FError = true;
            FObserver.FileFailed(i, QStringLiteral("Arquivo ") + item.Name + QStringLiteral(" recusado: ") + item.Reason +
                                        u'.');
            continue;
        }
        if (item.Decision == fdBaixar)
            Baixa(i);
    }
    CheckCancelled();
    if (SubstituicaoNecessaria(FDownloaded, FError) && ArquivoConfere()) {
        FReplacement = SubstituiExecutavel(mainExecutable, FProgr, [this] {
            FObserver.Waiting();
            return !FStop;
        });
        CheckCancelled();
        if (FReplacement.Failed) {
            FError = true;
            FObserver.ReplacementFailed(FReplacement.Message);
        }
    }
}

// The file's size feeds the counter and holds the download to its length.
// A signed release's manifest gives it, so the server cannot make the run
// read more than the release holds. Else the listing's own figure serves;
// SIZE is asked only of a fetched file the listing gave none for, so a run
// costs the server no command per file it already has. A refused SIZE reads
// as unknown (-1, shown as 4 294 967 295 bytes); a lost session or a stop
// request raises there and ends the run.
void TUpdateRun::Baixa(int index)
{
    const TPlanItem& item = FPlan.Items.at(index);
    FDownloaded = true;
    const TManifestEntry* entry = FManifest ? FManifest->Find(item.Name) : nullptr;
    const std::int64_t size = entry ? entry->Size : item.ListedSize >= 0 ? item.ListedSize : FFtp.Size(item.Name);
    FObserver.SizeKnown(std::uint32_t(size));
    TFetchedFileCheck check;
    if (entry) {
        check = [entry](const QString& file) {
            if (FileDifference(*entry, file))
                throw EReleaseError(QStringLiteral("Arquivo ") + entry->Name +
                                    QStringLiteral(" recusado: não confere com o manifesto assinado da versão "
                                                   "(tamanho ou SHA-256). A cópia anterior foi mantida."));
        };
    }
    try {
        FObserver.StateChanged(index, nsOrange);
        BaixaArquivo(FFtp, item, size, check);
        FFetched.append(index);
        FObserver.StateChanged(index, nsGreen);
    } catch (const std::exception& error) {
        CheckCancelled();
        FError = true;
        FObserver.StateChanged(index, nsRed);
        FObserver.FileFailed(index, ErrorText(error));
    }
}

bool TUpdateRun::ArquivoConfere()
{
    if (!FManifest)
        return true;
    const TManifestEntry* entry = FManifest->Find(MainArchive);
    if (entry && !FileDifference(*entry, MainArchive))
        return true;
    DeleteFile(MainArchive); // so the next run fetches it again
    FError = true;
    FReplacement.Failed = true;
    FReplacement.Message = QStringLiteral("Não foi possível substituir ") + MainExecutable + QStringLiteral(": ") + MainArchive +
                           QStringLiteral(" não confere com o manifesto assinado da versão. O programa anterior foi mantido.");
    FObserver.ReplacementFailed(FReplacement.Message);
    return false;
}

void TUpdateRun::Desconecta()
{
    try {
        if (FFtp.Connected())
            FFtp.Disconnect();
    } catch (const std::exception&) {
        // a session already lost has nothing to say goodbye to
    }
}

QString TextoFinal(bool failed, bool scriptFailed)
{
    if (failed && scriptFailed)
        return QStringLiteral("Atualização finalizada com erros, necessário contactar Belmora Sistemas.");
    if (failed)
        return QStringLiteral("Atualização finalizada com erros, feche os aplicativos e tente denovo.");
    return QStringLiteral("Atualização finalizada com sucesso.");
}
