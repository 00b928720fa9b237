// TIdFTP: a blocking FTP client (RFC 959 with HOST, FEAT, CLNT, PRET, SIZE
// and REST) over TCP/IPv4, in clear or with explicit TLS (RFC 4217): the
// control session with its login and SIZE, and passive or active data
// transfers for LIST and RETR.
#pragma once

#include "ftp/idcomponent.h"
#include "ftp/iderrors.h"
#include "ftp/idreplyftp.h"

#include <QFileDevice>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TIdSocket;
class TIdListener;
class TIdTlsContext;
struct TIdWaitControl;
class TDeadline;
class TIdFTPListItems;

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted,
};

// The status text: the member's template formatted with the raiser's argument.
QString StatusText(TIdStatus status, const QString& argument);

enum TWorkMode { wmRead, wmWrite };
// Explicit FTP over TLS. utRequireTLS: AUTH TLS before the login (a refusal
// fails the connection: there is no fallback, and the password never goes
// out in clear), then PBSZ 0 and PROT P, and every data connection
// encrypted, resuming the control connection's TLS session. The server's
// certificate must verify against the CA file named by $ZEMBO_FTP_CA, else
// the system's CA store, and carry Host (a name, or for a dotted address
// that IP address). Any TLS failure raises EIdTLSError with the reason.
enum TIdUseTLS { utNoTLS, utRequireTLS };
enum TIdFTPTransferType { ftASCII, ftBinary };

using TIdStatusEvent = std::function<void(TIdBaseComponent* ASender, TIdStatus AStatus, const QString& AStatusText)>;
using TWorkBeginEvent = std::function<void(TIdBaseComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEvent = std::function<void(TIdBaseComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdBaseComponent* ASender, TWorkMode AWorkMode)>;

struct TIdFTPClientIdentifier {
    QString ClientName;
    QString ClientVersion;
    QString PlatformDescription;
};

class TIdFTP : public TIdBaseComponent {
public:
    TIdFTP();
    ~TIdFTP() override;
    TIdFTP(const TIdFTP&) = delete;
    TIdFTP& operator=(const TIdFTP&) = delete;

    // Settings.
    QString Host;
    std::uint16_t Port = 21;
    QString Username;
    QString Password;
    // Passive data connections always go to the control connection's server,
    // whatever address the PASV reply names.
    bool Passive = true;
    bool AutoLogin = true;
    bool AutoIssueFEAT = true;
    bool UseHOST = true;
    QString ServerHOST;
    QString Account;
    TIdFTPClientIdentifier ClientInfo;
    TIdUseTLS UseTLS = utNoTLS;
    // Bounded waits in milliseconds; 0 waits without limit. A wait that
    // runs out fails the operation and closes the session.
    int ReadTimeout = 0;      // each reply on the control connection, all its lines
    int TransferTimeout = 0;  // each read on a data connection
    int ConnectTimeout = 0;   // each TCP connect, control and data
    int ListenTimeout = 10000; // active mode: the server's connect
    std::uint16_t DataPort = 0;
    QString ExternalIP;

    TIdStatusEvent OnStatus;
    // Runs about every 50 ms while the client waits on the network (a
    // connect, a reply, a data block), so that a caller on one thread can
    // keep its window answering; it may call Abort.
    std::function<void()> OnWait;
    // The caller's own stop request, read like Abort's at every wait slice
    // and block; it may be set from any thread, and the client never clears it.
    const std::atomic<bool>* StopRequest = nullptr;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    TIdFTPTransferType TransferType() const { return FTransferType; }
    // Sends TYPE when the value changes on a connected session; ignored
    // while a transfer runs.
    void SetTransferType(TIdFTPTransferType value);

    void Connect();
    void Login();
    // Sends QUIT, awaits its reply a few seconds at most, and closes.
    void Disconnect();
    bool Connected();
    // Asks the running operation to stop: a transfer at its next block, any
    // wait on the network (connect, reply, data) at once. The operation
    // fails with EIdFTPAborted and the session is closed; a download keeps
    // no partial data, except GetResumable's partial file. Only sets a
    // flag, so the notification handlers, OnWait and other threads may call
    // it; requested while nothing runs, it makes the next wait or transfer
    // fail at once.
    void Abort();

    // Refuses (EIdFTPBadArgument, naming `what`) text meant for a command
    // that holds CR, LF or NUL, or that the control encoding cannot write
    // (8-bit: a character above 255; UTF-8: a lone surrogate).
    static void CheckCommandText(const QString& what, const QString& text, bool utf8);
    // Refuses (EFCreateError with the full path) a download destination that
    // names no file: empty, ending in a separator, or an existing folder.
    static void CheckDestinationFile(const QString& path);

    // Empty allowed list: any reply except 421.
    int SendCmd(const QString& command, const QList<int>& allowed = {});
    int GetResponse(const QList<int>& allowed = {});
    void GetInternalResponse();
    void ChangeDir(const QString& directory);

    void List(QStringList* destination, const QString& specifier = QString(), bool details = true);
    std::int64_t Size(const QString& fileName);
    // MDTM's time of the file as the server words it (YYYYMMDDHHMMSS, maybe
    // with a fraction); empty when the server announces no MDTM or gives none.
    QString ModifiedStamp(const QString& fileName);
    // Into a local file: written beside the destination and put in its
    // place only once the server confirmed the transfer, so a failure leaves
    // the previous file as it was (a link in its place is replaced, never
    // written through; a local write failure raises EInOutError naming it). AExpectedSize is the file's size when the
    // caller knows it (-1: unknown); a binary download without it is held to
    // the "(N bytes)" of the server's 150 reply, if it names one. Fewer or
    // more bytes fail with EIdFTPSizeMismatch.
    void Get(const QString& sourceFile, const QString& destinationFile, bool ACanOverwrite = false,
             bool AResume = false, std::int64_t AExpectedSize = -1);
    // Into an open stream, from its current position; AExpectedSize as above
    // (with AResume, the size counts the stream's bytes before its position).
    void Get(const QString& sourceFile, QIODevice* destination, bool AResume = false,
             std::int64_t AExpectedSize = -1);

    // Resumes an interrupted download through a partial file beside it
    // (which may be missing): when the server announces REST STREAM and the
    // partial file is shorter than AExpectedSize, REST asks for the rest,
    // which is appended; otherwise, or when REST is refused, the download
    // starts over. A transfer cut off (lost connection, abort, time-out)
    // keeps the partial file for a later call; one that could not be
    // written here (a full disk) removes it, and fails with EInOutError
    // naming the local cause and the file. The partial file is never
    // opened through a link. Once the file is complete and
    // exactly AExpectedSize bytes long (required, >= 0), it replaces
    // destinationFile in one rename; another length fails with
    // EIdFTPSizeMismatch (more bytes than expected also remove the partial
    // file). AVerify, when given, judges the complete file before the
    // rename; when it raises, the partial file is removed and the error
    // passes on. Binary mode. Returns the bytes received by this call.
    std::int64_t GetResumable(const QString& sourceFile, const QString& destinationFile,
                              const QString& partialFile, std::int64_t AExpectedSize,
                              const std::function<void(const QString& file)>& AVerify = {});
    // FEAT announced "REST STREAM".
    bool SupportsRestStream() const;

    const QStringList& ListResult() const { return FListResult; }
    bool ListResultDetails() const { return FListDetails; }
    // The parsed form of ListResult, built on first use after each List.
    const TIdFTPListItems& DirectoryListing();
    const QString& DirFormat() const { return FDirFormat; }

    const TIdReplyFTP& Greeting() const { return FGreeting; }
    const TIdReplyFTP& LastCmdResult() const { return FLastCmdResult; }
    const QString& SystemDesc() const { return FSystemDesc; }
    const QStringList& Capabilities() const { return FCapabilities; }
    bool SupportsFeature(const QString& name) const;
    bool UsingUTF8() const { return FUTF8; }
    // The socket layer of the control connection (the sender of some statuses).
    TIdBaseComponent* IOHandler() const;

private:
    enum TTransferKind { tkListing, tkFile };

    void DoStatus(TIdBaseComponent* sender, TIdStatus status, const QString& argument = QString());
    // A wait ended by Abort: the session is closed and the request consumed.
    [[noreturn]] void EndAborted();
    bool AbortRequested() const;
    void CheckSessionTexts() const;
    void OpenControl();
    void ReadGreeting();
    bool SendHost();
    void ReadSystem();
    void CloseControl(); // without QUIT, with the two statuses
    void FeatureNegotiation();
    void SendTransferType();
    void StartControlTls();
    void ProtectDataConnections();
    void StartDataTls(TIdSocket& data);
    QString LoginPassword(const TIdReplyFTP& userReply) const;

    QByteArray Encode(const QString& text) const;
    QString Decode(const QByteArray& bytes) const;
    void WriteLine(const QString& text);
    // One line, waiting until the deadline at most.
    QString ReadLine(const TDeadline& deadline);
    // One reply, all of it within the wait (milliseconds, 0 no limit).
    void ReadReply(TIdReplyFTP& reply, int timeoutMs);
    void CheckReply(const TIdReplyFTP& reply, const QList<int>& allowed);
    [[noreturn]] void ReadTimedOut(const QString& text);

    void WorkBegin(std::int64_t max);
    void DoWork(std::int64_t count);
    void WorkEnd();
    void Transfer(const QString& command, QIODevice* destination, bool resume, TTransferKind kind,
                  std::int64_t expectedSize);
    std::unique_ptr<TIdSocket> ConnectPassive(const QString& command);
    std::unique_ptr<TIdListener> ListenActive();
    std::unique_ptr<TIdSocket> AcceptFromServer(TIdListener& listener);
    // The bytes received; with a limit (>= 0), at most one byte more than it.
    std::int64_t ReceiveData(TIdSocket& data, QIODevice* destination, std::int64_t limit);
    // RETR into the open partial file from its end (resume) or from empty.
    void RetrieveInto(const QString& sourceFile, QFileDevice& partial, bool resume, std::int64_t expectedSize);

    std::unique_ptr<TIdWaitControl> FWaitControl; // handed to every socket of the session
    std::unique_ptr<TIdSocket> FSocket;
    std::unique_ptr<TIdTlsContext> FTlsContext; // while UseTLS asks for it
    QByteArray FInput;
    qsizetype FInputPos = 0;
    bool FClosedByPeer = false;
    bool FUTF8 = false;
    bool FInTransfer = false;
    std::atomic<bool> FAbortRequested = false;
    int FWorkLevel = 0;
    std::int64_t FWorkCount = 0;
    std::int64_t FWorkMax = 0;
    int FResumeTested = -1; // -1 untested, 0 no, 1 yes
    TIdFTPTransferType FTransferType = ftASCII;
    TIdReplyFTP FGreeting;
    TIdReplyFTP FLastCmdResult;
    QString FServerDesc;
    QString FSystemDesc;
    QStringList FCapabilities;
    QStringList FListResult;
    bool FListDetails = false;
    QString FDirFormat;
    std::shared_ptr<TIdFTPListItems> FDirectoryListing; // shared: the type stays incomplete here
};
