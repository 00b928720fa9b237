#include "update/updaterun.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "settings.h"
#include "update/helpers.h"

#include <QDir>
#include <QThread>

namespace {

const QString CatalogueName = QStringLiteral("Sistema_my");

TPauseFunction& Pause()
{
    static TPauseFunction pause;
    return pause;
}

void Pausa(int milliseconds)
{
    if (Pause())
        Pause()(milliseconds);
    else
        QThread::msleep(ulong(milliseconds));
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
    try {
        customer.Open();
    } catch (const std::exception&) {
        catalogue.Close();
        try {
            customer.Close();
        } catch (const std::exception&) {
            // it never opened
        }
        return TCheckFailure{ckCustomerDatabase, QStringLiteral("Alias ") + alias +
                                                     QStringLiteral(" encontrado, mas arquivo apontado por ele ") +
                                                     path + QStringLiteral(" não foi encontrado.")};
    }
    customer.Close();
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
    ftp.UseMLIS = false;
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

bool TUpdatePlan::ReplacementExpected() const
{
    const bool refused =
        std::any_of(Items.begin(), Items.end(), [](const TPlanItem& i) { return i.Decision == fdRecusado; });
    return (AnyToFetch() || !FileExists(MainExecutable)) && !refused &&
           (FileExists(MainArchive) || Fetches(MainArchive));
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

TUpdatePlan PlanejaAtualizacao(const QStringList& lines, const TIdFTPListItems& items)
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
            entry.Reason = MotivoRecusa(entry.Name);
            if (entry.Name == DllsEntry)
                entry.Decision = fdNuncaBaixado;
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
    return (downloaded || !FileExists(MainExecutable)) && !failed && FileExists(MainArchive);
}

void BaixaArquivo(TIdFTP& ftp, const TPlanItem& item, std::int64_t expectedSize)
{
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
    const QChar sep = QDir::separator();
    return progr + sep + QStringLiteral("winrar") + sep + QStringLiteral("WinRAR.exe x -o+ ") + MainArchive +
           QStringLiteral(" *.exe \"") + destination + u'"';
}

TSubstituicao SubstituiExecutavel(const QString& mainExecutable, const QString& progr)
{
    TSubstituicao result;
    const QString folder = FolderPart(mainExecutable);
    if (FileExists(mainExecutable)) {
        // Failures here are judged by the wait below only.
        DeleteFile(folder + MainBackup);
        CopyFileNoOverwrite(mainExecutable, folder + MainBackup);
        DeleteFile(mainExecutable);
    }
    while (FileExists(mainExecutable) && result.Pauses < 5) {
        Pausa(1000);
        ++result.Pauses;
    }
    if (FileExists(mainExecutable)) {
        result.Failed = true;
        result.Message = QStringLiteral("Não foi possível apagar arquivo ") + mainExecutable + u'.';
        DeleteFile(MainArchive); // so the next run fetches it again
        return result;
    }
    result.CommandLine =
        LinhaDeComando(progr, folder.isEmpty() ? QStringLiteral(".") + QDir::separator() : folder);
    StartProcess(FromAnsi(ToAnsi(result.CommandLine)), QDir::currentPath()); // its result is not looked at
    return result;
}

// ------------------------------------------------------------------- run

TUpdateRun::TUpdateRun(TIdFTP& ftp, TUpdateObserver& observer, QString progr)
    : FFtp(ftp), FObserver(observer), FProgr(std::move(progr))
{
}

void TUpdateRun::Conecta(const TConfiguracao& settings, const QString& password)
{
    FFtp.Host = settings.Host;
    FFtp.Port = settings.Port;
    FFtp.Username = QLatin1String(Settings::FtpUser);
    FFtp.Password = password;
    FFtp.Passive = settings.Passive;
    try {
        FFtp.Connect();
    } catch (const std::exception& error) {
        throw EUpdateConnectError(QStringLiteral("Não foi possível estabelecer conexão ftp.\r\rTENTE MAIS TARDE.\r") +
                                  ErrorText(error));
    }
    FFtp.SetTransferType(ftBinary);
    FFtp.ChangeDir(ServerFolder);
}

void TUpdateRun::CheckCancelled() const
{
    if (FCancelled)
        throw EUpdateCancelled();
}

void TUpdateRun::Cancela()
{
    FCancelled = true;
    if (FTransferring)
        FFtp.Abort();
}

const TUpdatePlan& TUpdateRun::Planeja()
{
    QStringList lines;
    FTransferring = true;
    try {
        FFtp.List(&lines);
    } catch (const std::exception&) {
        FTransferring = false;
        CheckCancelled();
        throw;
    }
    FTransferring = false;
    CheckCancelled();
    FObserver.Listed(lines);
    FPlan = PlanejaAtualizacao(lines, FFtp.DirectoryListing());
    FObserver.Planned(FPlan);
    return FPlan;
}

void TUpdateRun::Sincroniza(const QString& mainExecutable)
{
    Planeja();
    Executa(mainExecutable);
}

void TUpdateRun::Executa(const QString& mainExecutable)
{
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
        // Every listed file's size is asked, fetched or not: the counter of
        // the window shows it. A refused SIZE reads as unknown (-1, shown as
        // 4 294 967 295 bytes); a lost session raises and ends the run.
        const std::int64_t size = FFtp.Size(item.Name);
        FObserver.SizeKnown(std::uint32_t(size));
        if (item.Decision == fdBaixar)
            Baixa(i, size);
    }
    CheckCancelled();
    if (SubstituicaoNecessaria(FDownloaded, FError)) {
        FReplacement = SubstituiExecutavel(mainExecutable, FProgr);
        if (FReplacement.Failed) {
            FError = true;
            FObserver.ReplacementFailed(FReplacement.Message);
        }
    }
}

void TUpdateRun::Baixa(int index, std::int64_t size)
{
    const TPlanItem& item = FPlan.Items.at(index);
    FDownloaded = true;
    try {
        FObserver.StateChanged(index, nsOrange);
        FTransferring = true;
        BaixaArquivo(FFtp, item, size);
        FTransferring = false;
        FObserver.StateChanged(index, nsGreen);
    } catch (const std::exception& error) {
        FTransferring = false;
        CheckCancelled();
        FError = true;
        FObserver.StateChanged(index, nsRed);
        FObserver.FileFailed(index, ErrorText(error));
    }
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
