#include "update/updaterun.h"

#include "ftp/idftp.h"
#include "platform/files.h"
#include "release/release.h"
#include "settings.h"
#include "update/partial.h"

#include <QDateTime>
#include <QDir>

namespace {

// A local file that takes no more than its limit: one byte more fails the transfer.
class TBoundedFile : public QFile {
public:
    explicit TBoundedFile(qint64 limit) : FLimit(limit) {}

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (pos() + size > FLimit) {
            setErrorString(QStringLiteral("mais de %1 bytes").arg(FLimit));
            return -1;
        }
        return QFile::writeData(data, size);
    }

private:
    qint64 FLimit;
};

} // namespace

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
    if (FManifest && !FKeys.isEmpty() && FPlan.AnyToFetch()) {
        FDeltas.Load(Servidor(), *FManifest, FKeys);
        CheckCancelled();
        FObserver.DeltasRead(FDeltas.Problem());
        FDeltas.Annotate(FPlan);
    }
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
    DeleteFile(BuiltExecutable); // left by a run stopped before its replacement
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
    if (FBuiltExecutable && FError)
        DeleteFile(BuiltExecutable); // the run replaces nothing after an error
    else if (FBuiltExecutable)
        DeleteFile(MainArchive); // an earlier release's: never to be unpacked over the new program
    if (FBuiltExecutable ? !FError : SubstituicaoNecessaria(FDownloaded, FError) && ArquivoConfere()) {
        const TSubstituicao replacement = SubstituiExecutavel(
            mainExecutable, FProgr,
            [this] {
                FObserver.Waiting();
                return !FStop;
            },
            FBuiltExecutable ? BuiltExecutable : QString());
        CheckCancelled();
        if (replacement.Failed) {
            FError = true;
            FObserver.ReplacementFailed(replacement.Message);
        } else {
            FObserver.Replaced(mainExecutable);
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
    if (BaixaDelta(index))
        return;
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
        FObserver.FileFetched(index);
        FObserver.StateChanged(index, nsGreen);
    } catch (const std::exception& error) {
        CheckCancelled();
        FError = true;
        FObserver.StateChanged(index, nsRed);
        FObserver.FileFailed(index, ErrorText(error));
    }
}

// A file of the delta folder; the caller removes what a failure leaves.
TServerFetch TUpdateRun::Servidor()
{
    return [this](const QString& serverName, const QString& localFile, std::int64_t maxBytes) {
        TBoundedFile file(maxBytes);
        if (const QString failed = OpenNoFollow(file, localFile, QIODevice::WriteOnly | QIODevice::Truncate);
            !failed.isEmpty())
            throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(localFile, failed));
        FFtp.Get(serverName, &file);
        if (!file.flush())
            throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(localFile, file.errorString()));
    };
}

bool TUpdateRun::BaixaDelta(int index)
{
    const TPlanItem& item = FPlan.Items.at(index);
    const TDeltaEntry* patch = item.DeltaSize >= 0 ? FDeltas.For(item.Name) : nullptr;
    if (!patch)
        return false;
    FObserver.SizeKnown(std::uint32_t(patch->PatchSize));
    FObserver.StateChanged(index, nsOrange);
    try {
        if (item.Name == MainArchive) {
            FDeltas.Build(Servidor(), *patch, BuiltExecutable);
            FBuiltExecutable = true;
        } else {
            FDeltas.Install(Servidor(), *patch, item);
        }
    } catch (const std::exception& error) {
        CheckCancelled();
        FObserver.DeltaFailed(index, ErrorText(error));
        return false;
    }
    const TManifestEntry* entry = FManifest->Find(item.Name);
    FObserver.FetchedByDelta(index, patch->PatchSize, entry ? entry->Size : patch->NewSize);
    FObserver.FileFetched(index);
    FObserver.StateChanged(index, nsGreen);
    return true;
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
    FObserver.ReplacementFailed(
        MensagemSubstituicao(MainExecutable, MainArchive + QStringLiteral(" não confere com o manifesto assinado da versão")));
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
