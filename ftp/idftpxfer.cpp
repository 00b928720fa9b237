// The data-transfer side of TIdFTP: data connections, LIST, SIZE and RETR.
#include "ftp/idftp.h"

#include "ftp/iderrors.h"
#include "ftp/idreply.h"
#include "ftp/idsocket.h"
#include "ftp/listing/ftplist.h"
#include "platform/files.h"
#include "platform/scoped.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr std::size_t BlockSize = 32768;
// The TLS close of a data connection is a courtesy: never wait long for it.
constexpr int TlsShutdownMs = 2000;

void WriteBlock(QIODevice* destination, const char* data, std::size_t size)
{
    if (destination->write(data, qint64(size)) != qint64(size))
        throw EInOutError(destination->errorString());
}

// The local file's bytes first, for a download that appends to it.
void CopyPrevious(const QString& path, QIODevice& destination)
{
    QFile previous; // never another file's bytes through a link
    if (const QString failed = OpenNoFollow(previous, path, QIODevice::ReadOnly); !failed.isEmpty())
        throw EFCreateError(QDir::current().absoluteFilePath(path), failed);
    while (!previous.atEnd()) {
        const QByteArray chunk = previous.read(qint64(BlockSize) * 32);
        if (chunk.isEmpty() && previous.error() != QFileDevice::NoError)
            throw EFCreateError(QDir::current().absoluteFilePath(path), previous.errorString());
        WriteBlock(&destination, chunk.constData(), std::size_t(chunk.size()));
    }
}

// A failure to write the download here: a full disk says so, with the file.
[[noreturn]] void LocalWriteFailed(const QString& path, const EInOutError& error)
{
    const QString full = QDir::current().absoluteFilePath(path);
    if (DiskFull(full))
        throw EInOutError(QStringLiteral("Não foi possível gravar %1: disco cheio.").arg(QDir::toNativeSeparators(full)));
    throw EInOutError(QStringLiteral("Não foi possível gravar %1: %2").arg(QDir::toNativeSeparators(full), error.Message()));
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

std::int64_t TIdFTP::ReceiveData(TIdSocket& data, QIODevice* destination, std::int64_t limit)
{
    WorkBegin(0);
    std::int64_t received = 0;
    std::int64_t taken = 0; // from the socket, some perhaps not delivered yet
    // The handlers may ask for the abort: it is honoured after each block they saw.
    const auto deliver = [&](const char* block, std::size_t size) {
        WriteBlock(destination, block, size);
        received += std::int64_t(size);
        DoWork(std::int64_t(size));
        if (AbortRequested())
            throw EIdFTPAborted();
    };
    try {
        std::unique_ptr<char[]> block(new char[BlockSize]);
        std::size_t filled = 0;
        for (;;) {
            std::size_t room = BlockSize - filled;
            if (limit >= 0) // one byte past the limit tells a longer file
                room = std::size_t(std::min<std::int64_t>(std::int64_t(room), limit + 1 - taken));
            const std::size_t n = data.Receive(block.get() + filled, room, TransferTimeout,
                                               QStringLiteral("Transfer timed out."));
            if (n == 0)
                break;
            filled += n;
            taken += std::int64_t(n);
            if (limit >= 0 && taken > limit)
                break;
            if (filled == BlockSize) {
                filled = 0;
                deliver(block.get(), BlockSize);
            }
        }
        if (filled > 0)
            deliver(block.get(), filled);
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
    return received;
}

// PRET and PASV; the data connection goes to the control connection's
// server whatever address the reply names, so that a server cannot point
// the client at a third machine.
std::unique_ptr<TIdSocket> TIdFTP::ConnectPassive(const QString& command)
{
    if (SupportsFeature(QStringLiteral("PRET")))
        SendCmd(QStringLiteral("PRET ") + command);
    SendCmd(QStringLiteral("PASV"), {227});
    const TIdPassiveAddress announced = ParsePASVReply(FLastCmdResult);
    auto data = std::make_unique<TIdSocket>(FWaitControl.get());
    data->Connect(FSocket->RemoteAddress(), announced.Port, ConnectTimeout);
    return data;
}

// On an encrypted session the data connection is encrypted too, as the TLS
// client in both modes, resuming the control connection's session (servers
// refuse data connections that do not). The server starts its side once it
// has taken the transfer command, so the handshake comes after its reply.
void TIdFTP::StartDataTls(TIdSocket& data)
{
    if (FSocket->IsTls())
        data.StartTls(*FTlsContext, FSocket->TlsSession(), TransferTimeout);
}

std::unique_ptr<TIdListener> TIdFTP::ListenActive()
{
    auto listener = std::make_unique<TIdListener>(FSocket->LocalAddress(), DataPort, FWaitControl.get());
    const QString ip =
        ExternalIP.isEmpty() ? QString::fromStdString(listener->LocalAddress().to_string()) : ExternalIP;
    const std::uint16_t port = listener->LocalPort();
    SendCmd(QStringLiteral("PORT %1,%2,%3").arg(QString(ip).replace(QLatin1Char('.'), QLatin1Char(',')))
                .arg(port / 256)
                .arg(port % 256),
            {200});
    return listener;
}

// Only the control connection's server may supply the data: a connection
// from another address is closed and the wait goes on within its limit.
std::unique_ptr<TIdSocket> TIdFTP::AcceptFromServer(TIdListener& listener)
{
    const asio::ip::address_v4 server = FSocket->RemoteAddress();
    const TDeadline deadline(ListenTimeout);
    for (;;) {
        const int wait = deadline.Remaining();
        if (wait < 0)
            return nullptr;
        std::unique_ptr<TIdSocket> data = listener.Accept(wait);
        if (!data || data->RemoteAddress() == server)
            return data;
    }
}

void TIdFTP::Transfer(const QString& command, QIODevice* destination, bool resume, TTransferKind kind,
                      std::int64_t expectedSize)
{
    DoStatus(this, ftpTransfer, QStringLiteral("Starting FTP transfer"));
    const std::int64_t before = resume ? destination->pos() : 0;
    std::int64_t received = -1;
    std::unique_ptr<TIdSocket> data;
    std::exception_ptr failure;
    bool aborted = false;
    bool localFailure = false; // the destination, not the line, failed
    // The server owes a completion reply only once it took the transfer command.
    bool commandTaken = false;
    {
        TScopedFlag inTransfer(FInTransfer);
        try {
            if (AbortRequested())
                throw EIdFTPAborted();
            const QString rest = QStringLiteral("REST %1").arg(destination->pos());
            std::unique_ptr<TIdListener> listener;
            if (Passive)
                data = ConnectPassive(command);
            else
                listener = ListenActive();
            if (resume && SendCmd(rest) != 350)
                throw EIdFTPRestRefused(FLastCmdResult.NumericCode(), ReplyMessage(FLastCmdResult));
            QList<int> allowed{125, 150, 154};
            if (Passive && kind == tkListing)
                allowed << 450;
            SendCmd(command, allowed);
            commandTaken = true;
            // Sizes in a text-mode reply need not match the bytes sent.
            if (expectedSize < 0 && kind == tkFile && !resume && FTransferType == ftBinary)
                expectedSize = AnnouncedTransferSize(FLastCmdResult);
            if (FLastCmdResult.NumericCode() != 450) {
                if (listener) {
                    data = AcceptFromServer(*listener);
                    listener.reset();
                    if (!data)
                        throw EIdAcceptTimeout();
                }
                StartDataTls(*data);
                // A file is read up to its size and one byte more, never to
                // whatever end the server chooses.
                received = ReceiveData(*data, destination, kind == tkFile && expectedSize >= 0 ? expectedSize - before : -1);
                if (expectedSize < 0 || before + received <= expectedSize)
                    data->ShutdownTls(TlsShutdownMs);
            }
            data->Close();
        } catch (const EIdFTPAborted&) {
            failure = std::current_exception();
            aborted = true;
        } catch (const EInOutError&) {
            failure = std::current_exception();
            localFailure = true;
        } catch (const Exception&) {
            failure = std::current_exception();
        }
        data.reset();
    }
    if (aborted) {
        // The server may go on sending or owe replies: the session ends here.
        FAbortRequested = false;
        CloseControl();
    }

    if (!commandTaken || FLastCmdResult.NumericCode() >= 300 || !FSocket->IsOpen()) {
        DoStatus(this, ftpAborted, QStringLiteral("Transfer aborted"));
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    if (localFailure) {
        // The server's word on the transfer it could not finish ("426
        // Transfer aborted") keeps the session in step, but the cause is here.
        DoStatus(this, ftpAborted, QStringLiteral("Transfer aborted"));
        try {
            GetResponse({226, 225, 250});
        } catch (const Exception&) {
            // the local failure is the one reported
        }
        std::rethrow_exception(failure);
    }
    if (!failure && received >= 0 && expectedSize >= 0 && before + received != expectedSize) {
        DoStatus(this, ftpAborted, QStringLiteral("Transfer aborted"));
        // Cut off early, the server may report the transfer failed (426).
        GetResponse(before + received > expectedSize ? QList<int>{} : QList<int>{226, 225, 250});
        throw EIdFTPSizeMismatch(before + received, expectedSize);
    }
    DoStatus(this, ftpReady, QStringLiteral("Transfer complete"));
    GetResponse({226, 225, 250});
    if (failure)
        std::rethrow_exception(failure);
}

// ---- operations -----------------------------------------------------------

void TIdFTP::List(QStringList* destination, const QString& specifier, bool details)
{
    CheckCommandText(QStringLiteral("The listing specifier"), specifier, FUTF8);
    TTypeScope type(*this, ftASCII);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    Transfer(TrimControl((details ? QStringLiteral("LIST ") : QStringLiteral("NLST ")) + specifier), &buffer,
             false, tkListing, -1);
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
    CheckCommandText(QStringLiteral("The file name"), fileName, FUTF8);
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

QString TIdFTP::ModifiedStamp(const QString& fileName)
{
    CheckCommandText(QStringLiteral("The file name"), fileName, FUTF8);
    // Asked only of a server that announces it (RFC 3659's FEAT).
    if (!SupportsFeature(QStringLiteral("MDTM")) || SendCmd(QStringLiteral("MDTM ") + fileName) != 213)
        return {};
    const QString text = TrimControl(FLastCmdResult.Text.join(QString()));
    static const QRegularExpression stamp(QStringLiteral("^[0-9]{14}(\\.[0-9]{1,9})?$"));
    return stamp.match(text).hasMatch() ? text : QString();
}

void TIdFTP::Get(const QString& sourceFile, QIODevice* destination, bool AResume, std::int64_t AExpectedSize)
{
    CheckCommandText(QStringLiteral("The file name"), sourceFile, FUTF8);
    // A refused RETR is a failure, also when the refusal is 450.
    Transfer(QStringLiteral("RETR ") + sourceFile, destination, AResume, tkFile, AExpectedSize);
}

// A name that is no file fails before anything is sent, not after the whole
// transfer.
void TIdFTP::CheckDestinationFile(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator())
        || QFileInfo(path).isDir())
        throw EFCreateError(QDir::current().absoluteFilePath(path), QStringLiteral("It names a folder, not a file."));
}

void TIdFTP::Get(const QString& sourceFile, const QString& destinationFile, bool ACanOverwrite, bool AResume,
                 std::int64_t AExpectedSize)
{
    CheckCommandText(QStringLiteral("The file name"), sourceFile, FUTF8);
    CheckDestinationFile(destinationFile);
    const QString fullPath = QDir::current().absoluteFilePath(destinationFile);
    if (sourceFile.isEmpty())
        throw EIdFTPBadArgument(QStringLiteral("The file name is empty; nothing was sent."));
    bool resume = false;
    if (AResume) {
        if (FResumeTested < 0) {
            FResumeTested = SendCmd(QStringLiteral("REST 1")) == 350 ? 1 : 0;
            SendCmd(QStringLiteral("REST 0"));
        }
        resume = FResumeTested == 1;
    }
    const bool exists = QFile::exists(destinationFile) || IsLink(destinationFile);
    bool append = false;
    if (!ACanOverwrite && resume)
        append = exists;
    else if (!(ACanOverwrite && !resume) && exists)
        throw EIdFTPFileAlreadyExists();

    // Written aside and put in place only after the server confirmed the
    // transfer: the previous file survives any failure.
    TAsideFile file;
    if (const QString failed = file.Open(destinationFile); !failed.isEmpty())
        throw EFCreateError(fullPath, failed);
    try {
        if (append)
            CopyPrevious(destinationFile, file.File());
        Transfer(QStringLiteral("RETR ") + sourceFile, &file.File(), append, tkFile, AExpectedSize);
    } catch (const EInOutError& error) {
        LocalWriteFailed(destinationFile, error);
    }
    if (const QString failed = file.Commit(); !failed.isEmpty())
        throw EFCreateError(fullPath, failed);
}

bool TIdFTP::SupportsRestStream() const
{
    for (const QString& line : FCapabilities)
        if (TrimControl(line).compare(QLatin1String("REST STREAM"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void TIdFTP::RetrieveInto(const QString& sourceFile, QFileDevice& partial, bool resume, std::int64_t expectedSize)
{
    if (!resume && !partial.resize(0))
        throw EInOutError(partial.errorString());
    if (!partial.seek(resume ? partial.size() : 0))
        throw EInOutError(partial.errorString());
    Transfer(QStringLiteral("RETR ") + sourceFile, &partial, resume, tkFile, expectedSize);
    if (!partial.flush()) // the last bytes written out, or the failure is known now
        throw EInOutError(partial.errorString());
}

std::int64_t TIdFTP::GetResumable(const QString& sourceFile, const QString& destinationFile,
                                  const QString& partialFile, std::int64_t AExpectedSize,
                                  const std::function<void(const QString& file)>& AVerify)
{
    CheckCommandText(QStringLiteral("The file name"), sourceFile, FUTF8);
    CheckDestinationFile(destinationFile);
    CheckDestinationFile(partialFile);
    if (sourceFile.isEmpty() || AExpectedSize < 0)
        throw EIdFTPBadArgument(QStringLiteral("A resumable download needs a file name and its size; nothing was sent."));
    TTypeScope type(*this, ftBinary);
    QFile partial;
    if (const QString failed = OpenNoFollow(partial, partialFile, QIODevice::ReadWrite); !failed.isEmpty())
        throw EFCreateError(QDir::current().absoluteFilePath(partialFile), failed);
    const auto removePartial = [&] {
        partial.close();
        QFile::remove(partialFile);
    };
    const std::int64_t had = partial.size();
    bool resume = had > 0 && had < AExpectedSize && SupportsRestStream();
    try {
        try {
            RetrieveInto(sourceFile, partial, resume, AExpectedSize);
        } catch (const EIdFTPRestRefused&) {
            resume = false;
            RetrieveInto(sourceFile, partial, false, AExpectedSize);
        }
    } catch (const EIdFTPSizeMismatch&) {
        // More than the file's size: not the file it was taken for, nothing
        // of it is worth resuming. Fewer bytes: cut off, kept for the rest.
        if (partial.size() > AExpectedSize)
            removePartial();
        throw;
    } catch (const EInOutError& error) {
        // The disk failed, not the line: a full disk must not stay full.
        // The cause is judged before the partial file frees its space.
        try {
            LocalWriteFailed(partialFile, error);
        } catch (...) {
            removePartial();
            throw;
        }
    }
    const std::int64_t received = partial.size() - (resume ? had : 0);
    partial.close();
    if (AVerify) {
        try {
            AVerify(partialFile);
        } catch (...) {
            removePartial();
            throw;
        }
    }
    if (const QString failed = ReplaceFile(partialFile, destinationFile); !failed.isEmpty())
        throw EFCreateError(QDir::current().absoluteFilePath(destinationFile), failed);
    type.Restore();
    return received;
}
