// The data-transfer side of TIdFTP: data connections, LIST, SIZE and RETR.
#include "ftp/idftp.h"

#include "ftp/iderrors.h"
#include "ftp/idreply.h"
#include "ftp/idsocket.h"
#include "ftp/listing/ftplist.h"

#include <QBuffer>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr std::size_t BlockSize = 32768;

void WriteBlock(QIODevice* destination, const char* data, std::size_t size)
{
    if (destination->write(data, qint64(size)) != qint64(size))
        throw EInOutError(destination->errorString());
}

// A stream longer than what was written is cut where the writing stopped.
void CutAtPosition(QIODevice* destination)
{
    if (destination->size() <= destination->pos())
        return;
    if (auto* file = qobject_cast<QFileDevice*>(destination))
        file->resize(destination->pos());
    else if (auto* buffer = qobject_cast<QBuffer*>(destination))
        buffer->buffer().truncate(destination->pos());
}

// Sets the transfer type for one operation and puts the old one back after it.
class TTypeScope {
public:
    TTypeScope(TIdFTP& client, TIdFTPTransferType type) : FClient(client), FOld(client.TransferType())
    {
        if (FOld != type) {
            FChanged = true;
            FClient.SetTransferType(type);
        }
    }
    // On success the restoring TYPE is checked like any other.
    void Restore()
    {
        if (FChanged) {
            FChanged = false;
            FClient.SetTransferType(FOld);
        }
    }
    ~TTypeScope()
    {
        try {
            Restore();
        } catch (const Exception&) {
            // The operation's own failure is the one reported.
        }
    }

private:
    TIdFTP& FClient;
    TIdFTPTransferType FOld;
    bool FChanged = false;
};

} // namespace

// ---- work notifications ---------------------------------------------------

void TIdFTP::WorkBegin(std::int64_t max)
{
    if (++FWorkLevel == 1) {
        FWorkMax = max;
        FWorkCount = 0;
        if (OnWorkBegin)
            OnWorkBegin(this, wmRead, max);
    }
}

void TIdFTP::DoWork(std::int64_t count)
{
    if (FWorkLevel < 1)
        return;
    FWorkCount += count;
    if (OnWork)
        OnWork(this, wmRead, FWorkCount);
}

void TIdFTP::WorkEnd()
{
    if (FWorkLevel == 1 && OnWorkEnd)
        OnWorkEnd(this, wmRead);
    if (FWorkLevel > 0)
        --FWorkLevel;
}

// ---- one transfer ---------------------------------------------------------

void TIdFTP::ReceiveData(TIdSocket& data, QIODevice* destination)
{
    WorkBegin(0);
    try {
        std::unique_ptr<char[]> block(new char[BlockSize]);
        std::size_t filled = 0;
        for (;;) {
            const std::size_t n = data.Receive(block.get() + filled, BlockSize - filled, TransferTimeout,
                                               QStringLiteral("Transfer timed out."));
            if (n == 0)
                break;
            filled += n;
            if (filled == BlockSize) {
                WriteBlock(destination, block.get(), filled);
                DoWork(std::int64_t(filled));
                filled = 0;
            }
        }
        if (filled > 0) {
            WriteBlock(destination, block.get(), filled);
            DoWork(std::int64_t(filled));
        }
    } catch (const EIdReadTimeout&) {
        WorkEnd();
        // The server owes a completion reply it may never send: the session
        // is over.
        CloseControl();
        throw;
    } catch (...) {
        WorkEnd();
        throw;
    }
    WorkEnd();
    CutAtPosition(destination);
}

void TIdFTP::Transfer(const QString& command, QIODevice* destination, bool resume, bool allow450)
{
    DoStatus(this, ftpTransfer, QStringLiteral("Starting FTP transfer"));
    std::unique_ptr<TIdSocket> data;
    std::exception_ptr failure;
    // The server owes a completion reply only once it took the transfer command.
    bool commandTaken = false;
    {
        TFlagRestore inTransfer(FInTransfer, true);
        try {
            const QString rest = QStringLiteral("REST %1").arg(destination->pos());
            if (Passive) {
                if (SupportsFeature(QStringLiteral("PRET")))
                    SendCmd(QStringLiteral("PRET ") + command);
                SendCmd(QStringLiteral("PASV"), {227});
                const TIdPassiveAddress announced = ParsePASVReply(FLastCmdResult);
                const QString server = QString::fromStdString(FSocket->RemoteAddress().to_string());
                const QString host =
                    PassiveUseControlHost ? server : PassiveDataHost(announced.Address, server);
                std::error_code ec;
                const auto address = asio::ip::make_address_v4(host.toStdString(), ec);
                if (ec)
                    RaiseSocketError(asio::error::host_not_found);
                data = std::make_unique<TIdSocket>();
                data->Connect(address, announced.Port, ConnectTimeout);
                if (resume)
                    SendCmd(rest, {350});
                QList<int> allowed{125, 150, 154};
                if (allow450)
                    allowed << 450;
                SendCmd(command, allowed);
                commandTaken = true;
                if (FLastCmdResult.NumericCode() != 450)
                    ReceiveData(*data, destination);
                data->Close();
            } else {
                auto listener = std::make_unique<TIdListener>(FSocket->LocalAddress(), DataPort);
                const QString ip = ExternalIP.isEmpty() ? QString::fromStdString(listener->LocalAddress().to_string())
                                                        : ExternalIP;
                const std::uint16_t port = listener->LocalPort();
                SendCmd(QStringLiteral("PORT %1,%2,%3").arg(QString(ip).replace(QLatin1Char('.'), QLatin1Char(',')))
                            .arg(port / 256)
                            .arg(port % 256),
                        {200});
                if (resume)
                    SendCmd(rest, {350});
                SendCmd(command, {125, 150, 154});
                commandTaken = true;
                data = listener->Accept(ListenTimeout);
                listener.reset();
                if (!data)
                    throw EIdAcceptTimeout();
                ReceiveData(*data, destination);
            }
        } catch (const Exception&) {
            failure = std::current_exception();
        }
        data.reset();
    }

    if (!commandTaken || FLastCmdResult.NumericCode() >= 300 || !FSocket->IsOpen()) {
        DoStatus(this, ftpAborted, QStringLiteral("Transfer aborted"));
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    DoStatus(this, ftpReady, QStringLiteral("Transfer complete"));
    GetResponse({226, 225, 250});
    if (failure)
        std::rethrow_exception(failure);
}

// ---- operations -----------------------------------------------------------

void TIdFTP::List(QStringList* destination, const QString& specifier, bool details)
{
    TTypeScope type(*this, ftASCII);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    Transfer(TrimControl((details ? QStringLiteral("LIST ") : QStringLiteral("NLST ")) + specifier), &buffer,
             false, true);
    FDirectoryListing.reset();
    FDirFormat.clear();
    FListResult = SplitListingLines(Decode(buffer.data()));
    FListDetails = details;
    if (destination)
        *destination = FListResult;
    type.Restore();
}

std::int64_t TIdFTP::Size(const QString& fileName)
{
    TTypeScope type(*this, ftBinary);
    std::int64_t size = -1;
    if (SendCmd(QStringLiteral("SIZE ") + fileName) == 213) {
        QString text = TrimControl(FLastCmdResult.Text.join(QStringLiteral("\r\n")));
        const qsizetype blank = text.indexOf(QLatin1Char(' '));
        if (blank >= 0)
            text = TrimControl(text.mid(blank + 1));
        bool ok = false;
        const qint64 value = text.toLongLong(&ok);
        if (ok)
            size = value;
    }
    type.Restore();
    return size;
}

void TIdFTP::Get(const QString& sourceFile, QIODevice* destination, bool AResume)
{
    // A refused RETR is a failure, also when the refusal is 450.
    Transfer(QStringLiteral("RETR ") + sourceFile, destination, AResume, false);
}

void TIdFTP::Get(const QString& sourceFile, const QString& destinationFile, bool ACanOverwrite, bool AResume)
{
    bool resume = false;
    if (AResume) {
        if (FResumeTested < 0) {
            FResumeTested = SendCmd(QStringLiteral("REST 1")) == 350 ? 1 : 0;
            SendCmd(QStringLiteral("REST 0"));
        }
        resume = FResumeTested == 1;
    }
    const bool exists = QFile::exists(destinationFile);
    bool append = false;
    if (!ACanOverwrite && resume)
        append = exists;
    else if (!(ACanOverwrite && !resume) && exists)
        throw EIdFTPFileAlreadyExists();

    // Written aside and put in place only after the server confirmed the
    // transfer: the previous file survives any failure.
    QSaveFile file(destinationFile);
    if (!file.open(QIODevice::WriteOnly))
        throw EFCreateError(QFileInfo(destinationFile).absoluteFilePath(), file.errorString());
    if (append) {
        QFile previous(destinationFile);
        if (!previous.open(QIODevice::ReadOnly))
            throw EFCreateError(QFileInfo(destinationFile).absoluteFilePath(), previous.errorString());
        while (!previous.atEnd()) {
            const QByteArray chunk = previous.read(qint64(BlockSize) * 32);
            if (chunk.isEmpty() && previous.error() != QFileDevice::NoError)
                throw EInOutError(previous.errorString());
            WriteBlock(&file, chunk.constData(), std::size_t(chunk.size()));
        }
    }
    Transfer(QStringLiteral("RETR ") + sourceFile, &file, append, false);
    if (!file.commit())
        throw EFCreateError(QFileInfo(destinationFile).absoluteFilePath(), file.errorString());
}
