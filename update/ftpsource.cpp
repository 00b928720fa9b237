// The FTP folder "keldarin": the client's session, its listing, and each
// file through the interrupted-download record.
#include "update/source.h"

#include "ftp/idftp.h"
#include "platform/files.h"
#include "release/release.h"
#include "settings.h"
#include "update/https/httpssource.h"
#include "update/names.h"
#include "update/partial.h"

#include <QBuffer>
#include <QFile>

namespace {

// Holds what the server sends up to a limit; one byte more fails the
// transfer instead of filling the memory (or the disk).
template <class TDevice>
class TBounded : public TDevice {
public:
    using TDevice::TDevice;
    qint64 Limit = 0;

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (this->pos() + size > Limit) {
            this->setErrorString(QStringLiteral("mais de %1 bytes").arg(Limit));
            return -1;
        }
        return TDevice::writeData(data, size);
    }
};

// Fetches the file over its local copy, which survives any failure; a
// length other than expectedSize (when known) fails the download. With a
// known size an interrupted download is kept aside and resumed by the next
// run while the server's time and size still match. Then stamps it with
// the listing's time (a failed stamping is ignored).
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

class TFtpSource : public TReleaseSource {
public:
    explicit TFtpSource(TIdFTP& ftp) : FFtp(ftp)
    {
        FFtp.OnWait = [this] {
            if (OnWait)
                OnWait();
        };
    }
    ~TFtpSource() override { FFtp.OnWait = nullptr; }

    void Conecta(const TConfiguracao& settings, const QString& password) override;
    bool ExigeAssinatura() const override { return false; }
    TReleaseFiles LeVersao(const QByteArray&) override
    {
        TReleaseFiles files;
        files.Manifest = LeArquivo(ReleaseManifestName);
        files.Signature = LeArquivo(ReleaseSignatureName);
        return files;
    }
    TUpdatePlan Planeja(const TManifest* manifest, QStringList& lines) override
    {
        FFtp.List(&lines);
        return PlanejaAtualizacao(lines, FFtp.DirectoryListing(), manifest);
    }
    std::int64_t Tamanho(const QString& name) override { return FFtp.Size(name); }
    void Baixa(const TPlanItem& item, std::int64_t size, const TFetchedFileCheck& check) override
    {
        BaixaArquivo(FFtp, item, size, check);
    }
    void Fetch(const QString& serverName, const QString& localFile, std::int64_t maxBytes) override;
    void Desconecta() override
    {
        try {
            if (FFtp.Connected())
                FFtp.Disconnect();
        } catch (const std::exception&) {
            // a session already lost has nothing to say goodbye to
        }
    }
    QString Descricao(const TConfiguracao& settings) const override
    {
        return settings.Host + u':' + QString::number(settings.Port) +
               (settings.Passive ? QStringLiteral(", modo passivo") : QStringLiteral(", modo ativo")) +
               (settings.Tls ? QStringLiteral(", TLS") : QString());
    }

private:
    QByteArray LeArquivo(const char* name)
    {
        TBounded<QBuffer> buffer;
        buffer.Limit = MaxReleaseFileSize;
        buffer.open(QIODevice::ReadWrite);
        try {
            FFtp.Get(QLatin1String(name), &buffer);
        } catch (const EIdReplyRFCError&) {
            return QByteArray(); // not published: the release's check says what is missing
        }
        return buffer.data();
    }

    TIdFTP& FFtp;
};

void TFtpSource::Conecta(const TConfiguracao& settings, const QString& password)
{
    FFtp.Host = settings.Host;
    FFtp.Port = settings.Port;
    FFtp.Username = QLatin1String(Settings::FtpUser);
    FFtp.Password = password;
    FFtp.Passive = settings.Passive;
    FFtp.UseTLS = settings.Tls ? utRequireTLS : utNoTLS;
    try {
        FFtp.Connect();
    } catch (const std::exception& error) {
        throw EUpdateConnectError(QStringLiteral("Não foi possível estabelecer conexão ftp.\r\rTENTE MAIS TARDE.\r") +
                                  ErrorText(error));
    }
    FFtp.SetTransferType(ftBinary);
    FFtp.ChangeDir(ServerFolder);
}

void TFtpSource::Fetch(const QString& serverName, const QString& localFile, std::int64_t maxBytes)
{
    TBounded<QFile> file(localFile);
    file.Limit = maxBytes;
    try {
        if (const QString why = OpenNoFollow(file, localFile, QIODevice::WriteOnly | QIODevice::Truncate); !why.isEmpty())
            throw EFCreateError(localFile, why);
        FFtp.Get(serverName, &file);
        file.close();
    } catch (...) {
        file.close();
        DeleteFile(localFile);
        throw;
    }
}

} // namespace

std::unique_ptr<TReleaseSource> CriaFonteFtp(TIdFTP& ftp)
{
    return std::make_unique<TFtpSource>(ftp);
}

std::unique_ptr<TReleaseSource> CriaFonte(const TConfiguracao& settings, TIdFTP& ftp, const std::atomic<bool>& stop)
{
    if (settings.Web())
        return CriaFonteHttps(stop);
    return CriaFonteFtp(ftp);
}
