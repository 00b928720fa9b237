#include "ftp/idftp.h"

#include "ftp/iderrors.h"
#include "ftp/idreply.h"
#include "ftp/idsocket.h"
#include "ftp/otp.h"

#include <QUrl>
#include <algorithm>

namespace {

constexpr qsizetype MaxLineLength = 16384;
constexpr std::size_t ReceiveSize = 32768;
// A reply longer than this is no answer but a flood.
constexpr int MaxReplyLines = 10000;
constexpr qsizetype MaxReplyBytes = 1 << 20;
// The QUIT reply is a courtesy: never wait long for it.
constexpr int QuitReplyTimeout = 2000;
// How long a refused HOST waits for the server's close before going on.
constexpr int HostCloseGraceMs = 100;

// The command's verb, for messages that must not repeat its argument (a password).
QString Verb(const QString& command)
{
    qsizetype end = 0;
    while (end < command.size() && command.at(end).unicode() > 32)
        ++end;
    return command.left(end);
}

} // namespace

QString StatusText(TIdStatus status, const QString& argument)
{
    switch (status) {
    case hsResolving: return QStringLiteral("Resolving hostname %1.").arg(argument);
    case hsConnecting: return QStringLiteral("Connecting to %1.").arg(argument);
    case hsConnected: return QStringLiteral("Connected.");
    case hsDisconnecting: return QStringLiteral("Disconnecting.");
    case hsDisconnected: return QStringLiteral("Disconnected.");
    default: return argument;
    }
}

TIdFTP::TIdFTP()
    : FWaitControl(std::make_unique<TIdWaitControl>(TIdWaitControl{[this] {
                                                                        if (OnWait)
                                                                            OnWait();
                                                                    },
                                                                    [this] { return AbortRequested(); }})),
      FSocket(std::make_unique<TIdSocket>(FWaitControl.get()))
{
}

TIdFTP::~TIdFTP() = default;

TIdBaseComponent* TIdFTP::IOHandler() const { return FSocket.get(); }

void TIdFTP::DoStatus(TIdBaseComponent* sender, TIdStatus status, const QString& argument)
{
    if (OnStatus)
        OnStatus(sender, status, StatusText(status, argument));
}

// ---- control text ---------------------------------------------------------

QByteArray TIdFTP::Encode(const QString& text) const
{
    if (FUTF8)
        return text.toUtf8();
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        bytes[i] = c < 256 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

void TIdFTP::CheckCommandText(const QString& what, const QString& text, bool utf8)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() == 0)
            throw EIdFTPBadArgument(what + QStringLiteral(" holds a CR, LF or NUL character; nothing was sent."));
        const bool unpaired = c.isHighSurrogate() ? !(i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                                                  : c.isLowSurrogate() && !(i > 0 && text.at(i - 1).isHighSurrogate());
        if (utf8 ? unpaired : c.unicode() > 255)
            throw EIdFTPBadArgument(what
                                    + QStringLiteral(" cannot be written in the connection's encoding; nothing was sent."));
    }
}

QString TIdFTP::Decode(const QByteArray& bytes) const
{
    return FUTF8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

void TIdFTP::ReadTimedOut(const QString& text)
{
    CloseControl();
    throw EIdReadTimeout(text);
}

void TIdFTP::EndAborted()
{
    FAbortRequested = false;
    CloseControl();
    DoStatus(this, ftpAborted, QStringLiteral("Transfer aborted"));
    throw EIdFTPAborted();
}

void TIdFTP::WriteLine(const QString& text)
{
    if (!FSocket->IsOpen())
        throw EIdNotConnected();
    CheckCommandText(QStringLiteral("The command ") + Verb(text), text, FUTF8);
    const QByteArray bytes = Encode(text) + "\r\n";
    try {
        FSocket->Send(bytes.constData(), std::size_t(bytes.size()), ReadTimeout, QStringLiteral("Write timed out."));
    } catch (const EIdReadTimeout& e) {
        ReadTimedOut(e.Message());
    } catch (const EIdFTPAborted&) {
        EndAborted();
    }
}

QString TIdFTP::ReadLine(const TDeadline& deadline)
{
    for (;;) {
        const qsizetype lf = FInput.indexOf('\n', FInputPos);
        if (lf >= 0) {
            if (lf - FInputPos > MaxLineLength)
                throw EIdReadLnMaxLineLengthExceeded();
            qsizetype end = lf;
            if (end > FInputPos && FInput.at(end - 1) == '\r')
                --end;
            const QString line = Decode(FInput.mid(FInputPos, end - FInputPos));
            FInputPos = lf + 1;
            if (FInputPos == FInput.size()) {
                FInput.clear();
                FInputPos = 0;
            }
            return line;
        }
        // A line that has already outgrown the limit fails now rather than
        // after an unbounded amount of input.
        if (FInput.size() - FInputPos > MaxLineLength)
            throw EIdReadLnMaxLineLengthExceeded();
        if (!FSocket->IsOpen())
            throw EIdConnClosedGracefully();
        if (FInputPos > 0) {
            FInput.remove(0, FInputPos);
            FInputPos = 0;
        }
        const qsizetype old = FInput.size();
        FInput.resize(old + qsizetype(ReceiveSize));
        std::size_t n = 0;
        try {
            const int wait = deadline.Remaining();
            if (wait < 0)
                throw EIdReadTimeout(QStringLiteral("Read timed out."));
            n = FSocket->Receive(FInput.data() + old, ReceiveSize, wait, QStringLiteral("Read timed out."));
        } catch (const EIdReadTimeout& e) {
            FInput.resize(old);
            ReadTimedOut(e.Message());
        } catch (const EIdFTPAborted&) {
            FInput.resize(old);
            EndAborted();
        } catch (...) {
            FInput.resize(old);
            throw;
        }
        FInput.resize(old + qsizetype(n));
        if (n == 0) {
            FSocket->Close();
            DoStatus(FSocket.get(), hsDisconnected);
            throw EIdConnClosedGracefully();
        }
    }
}

void TIdFTP::ReadReply(TIdReplyFTP& reply, int timeoutMs)
{
    const TDeadline deadline(timeoutMs);
    int count = 0;
    qsizetype bytes = 0;
    // Every line counts, the skipped empty ones too.
    const auto next = [&] {
        const QString line = ReadLine(deadline);
        bytes += line.size();
        if (++count > MaxReplyLines || bytes > MaxReplyBytes) {
            CloseControl();
            throw EIdException(count > MaxReplyLines
                                   ? QStringLiteral("Reply too long: more than %1 lines.").arg(MaxReplyLines)
                                   : QStringLiteral("Reply too long: more than %1 bytes.").arg(MaxReplyBytes));
        }
        return TrimControl(line);
    };
    QStringList lines;
    QString line;
    do
        line = next();
    while (line.isEmpty());
    lines << line;
    if (line.size() >= 4 && line.at(3) == QLatin1Char('-')) {
        const QString code = line.left(3);
        do {
            line = next();
            if (!line.isEmpty())
                lines << line;
        } while (!EndsMultiLineReply(line, code));
    }
    ParseReply(lines, reply);
}

void TIdFTP::CheckReply(const TIdReplyFTP& reply, const QList<int>& allowed)
{
    const int code = reply.NumericCode();
    if (code == 421 && !allowed.contains(421)) {
        CloseControl();
        throw EIdFTPServiceNotAvailable(code, ReplyMessage(reply));
    }
    if (!allowed.isEmpty() && !allowed.contains(code))
        throw EIdReplyRFCError(code, ReplyMessage(reply));
}

void TIdFTP::GetInternalResponse() { ReadReply(FLastCmdResult, ReadTimeout); }

int TIdFTP::GetResponse(const QList<int>& allowed)
{
    GetInternalResponse();
    CheckReply(FLastCmdResult, allowed);
    return FLastCmdResult.NumericCode();
}

int TIdFTP::SendCmd(const QString& command, const QList<int>& allowed)
{
    WriteLine(command);
    return GetResponse(allowed);
}

// ---- session --------------------------------------------------------------

void TIdFTP::CloseControl()
{
    if (FSocket->IsOpen()) {
        DoStatus(this, hsDisconnecting);
        FSocket->Close();
        DoStatus(this, hsDisconnected);
    }
    FInput.clear();
    FInputPos = 0;
}

bool TIdFTP::Connected()
{
    if (FSocket->IsOpen()) {
        bool closed = false;
        char buffer[4096];
        try {
            for (;;) {
                const std::ptrdiff_t n = FSocket->ReceiveNow(buffer, sizeof buffer);
                if (n < 0)
                    break;
                if (n == 0) {
                    closed = true;
                    break;
                }
                FInput.append(buffer, n);
            }
        } catch (const EIdSocketError&) {
            closed = true;
        }
        if (closed) {
            FSocket->Close();
            DoStatus(FSocket.get(), hsDisconnected);
        }
    }
    return FSocket->IsOpen() || FInputPos < FInput.size();
}

void TIdFTP::OpenControl()
{
    FInput.clear();
    FInputPos = 0;
    asio::ip::address_v4 address;
    if (IsDottedIPv4(Host)) {
        address = ResolveHost(Host);
    } else {
        DoStatus(FSocket.get(), hsResolving, Host);
        address = ResolveHost(Host);
    }
    DoStatus(FSocket.get(), hsConnecting, QString::fromStdString(address.to_string()));
    try {
        FSocket->Connect(address, Port, ConnectTimeout);
    } catch (const EIdFTPAborted&) {
        EndAborted();
    }
    DoStatus(this, hsConnected);
    FUTF8 = false;
}

// Everything the session will send from the settings, checked before the
// connection opens; the login goes out in the 8-bit encoding, the host name
// in its ASCII form.
void TIdFTP::CheckSessionTexts() const
{
    CheckCommandText(QStringLiteral("The host name"), ServerHOST.isEmpty() ? Host : ServerHOST, true);
    CheckCommandText(QStringLiteral("The user name"), Username, false);
    CheckCommandText(QStringLiteral("The password"), Password, false);
    CheckCommandText(QStringLiteral("The account"), Account, false);
}

void TIdFTP::ReadGreeting()
{
    GetInternalResponse();
    if (FLastCmdResult.NumericCode() >= 100 && FLastCmdResult.NumericCode() <= 199)
        GetResponse({220});
    else
        CheckReply(FLastCmdResult, {220});
    FGreeting = FLastCmdResult;
    FServerDesc = FGreeting.Text.isEmpty() ? QString() : FGreeting.Text.first();
}

// False when the server closed the session on HOST.
bool TIdFTP::SendHost()
{
    QString name = ServerHOST.isEmpty() ? Host : ServerHOST;
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 128; });
    if (!ascii && !QUrl::toAce(name).isEmpty())
        name = QString::fromLatin1(QUrl::toAce(name));
    if (name == QString::fromStdString(FSocket->RemoteAddress().to_string()))
        name = QLatin1Char('[') + name + QLatin1Char(']');
    if (SendCmd(QStringLiteral("HOST ") + name) == 220) {
        FGreeting = FLastCmdResult;
        return true;
    }
    // A server that drops the session on HOST closes right after its reply;
    // its close may trail the reply by a moment, so give it that moment
    // before judging whether to come back without HOST.
    if (FInputPos >= FInput.size() && FSocket->IsOpen()) {
        try {
            FSocket->WaitReadable(HostCloseGraceMs);
        } catch (const EIdFTPAborted&) {
            EndAborted();
        }
    }
    return Connected();
}

void TIdFTP::ReadSystem()
{
    FSystemDesc = SendCmd(QStringLiteral("SYST")) == 500 ? QStringLiteral("Unknown") : FLastCmdResult.Text.value(0);
    bool siteZone = false;
    for (const char* product : {"Serv-U ", "BPFTP Server ", "TitanFTP server ", "Titan FTP Server "})
        siteZone = siteZone || FServerDesc.startsWith(QLatin1String(product), Qt::CaseInsensitive);
    for (const QString& line : FCapabilities) {
        const QString feature = TrimControl(line);
        if (feature.section(QLatin1Char(' '), 0, 0).compare(QLatin1String("SITE"), Qt::CaseInsensitive) != 0)
            continue;
        for (const QString& fact : feature.section(QLatin1Char(' '), 1).split(QLatin1Char(';')))
            siteZone = siteZone || TrimControl(fact).compare(QLatin1String("ZONE"), Qt::CaseInsensitive) == 0;
    }
    if (siteZone)
        SendCmd(QStringLiteral("SITE ZONE"));
}

void TIdFTP::Connect()
{
    FCapabilities.clear();
    bool greeted = false;
    try {
        if (Connected())
            throw EIdAlreadyConnected();
        if (Host.isEmpty())
            throw EIdHostRequired();
        if (Port == 0)
            throw EIdPortRequired();
        CheckSessionTexts();
        OpenControl();
        ReadGreeting();
        greeted = true;
        if (UseHOST && !SendHost()) {
            // Servers without virtual hosts may drop the session on HOST:
            // come back without it.
            greeted = false;
            FInput.clear();
            FInputPos = 0;
            OpenControl();
            ReadGreeting();
            greeted = true;
        }
        if (UseTLS == utRequireTLS)
            StartControlTls();
        if (AutoLogin)
            Login();
        ReadSystem();
        // The login ended with TYPE as well: a fresh connection sends it twice.
        SendTransferType();
        DoStatus(this, ftpReady, QStringLiteral("Connection established"));
    } catch (...) {
        if (greeted)
            Disconnect();
        else
            CloseControl();
        throw;
    }
}

QString TIdFTP::LoginPassword(const TIdReplyFTP& userReply) const
{
    if (const auto challenge = FindOtpChallenge(userReply.Text.join(QLatin1Char(' '))))
        return OtpPassword(*challenge, Password);
    return Password;
}

void TIdFTP::Login()
{
    if (UseTLS == utRequireTLS && !FSocket->IsTls())
        throw EIdTLSError(QStringLiteral("the control connection is not encrypted; the login was not sent."));
    const QString greeting = FGreeting.Text.join(QLatin1Char(' '));
    bool xaut = false;
    std::uint32_t challenge = 0;
    if (greeting.contains(QLatin1String("WS_FTP Server"))) {
        const qsizetype open = greeting.indexOf(QLatin1Char('('));
        const qsizetype close = open >= 0 ? greeting.indexOf(QLatin1Char(')'), open + 1) : -1;
        if (close > open) {
            bool ok = false;
            challenge = static_cast<std::uint32_t>(greeting.mid(open + 1, close - open - 1).toInt(&ok));
            xaut = ok;
        }
    }
    if (xaut) {
        SendCmd(QStringLiteral("XAUT 2 ") + XAutCredentials(Username, Password, challenge), {230, 232, 331});
    } else if (SendCmd(QStringLiteral("USER ") + Username, {230, 232, 331}) == 331) {
        SendCmd(QStringLiteral("PASS ") + LoginPassword(FLastCmdResult), {230, 332});
    }
    const bool accountNeeded =
        FLastCmdResult.NumericCode() == 332
        || (FLastCmdResult.Text.join(QLatin1Char(' ')).contains(QLatin1String("ACCOUNT")) && !Account.isEmpty());
    if (accountNeeded) {
        if (Account.isEmpty())
            throw EIdReplyRFCError(FLastCmdResult.NumericCode(), ReplyMessage(FLastCmdResult));
        SendCmd(QStringLiteral("ACCT ") + Account, {202, 230, 500});
    }
    if (UseTLS == utRequireTLS)
        ProtectDataConnections();
    if (AutoIssueFEAT)
        FeatureNegotiation();
    SendTransferType();
}

bool TIdFTP::SupportsFeature(const QString& name) const
{
    for (const QString& line : FCapabilities) {
        QString feature = line;
        while (feature.startsWith(QLatin1Char(' ')))
            feature.remove(0, 1);
        if (feature.section(QLatin1Char(' '), 0, 0).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TIdFTP::FeatureNegotiation()
{
    const int code = SendCmd(QStringLiteral("FEAT"));
    if ((code == 211 || code == 221) && FLastCmdResult.Text.size() > 2)
        FCapabilities = FLastCmdResult.Text.mid(1, FLastCmdResult.Text.size() - 2);
    if (SupportsFeature(QStringLiteral("CLNT"))) {
        QString client = QStringLiteral("ZemboFTP 1.0");
        if (!ClientInfo.ClientName.isEmpty()) {
            client = ClientInfo.ClientName;
            for (const QString& part : {ClientInfo.ClientVersion, ClientInfo.PlatformDescription})
                if (!part.isEmpty())
                    client += QLatin1Char(' ') + part;
        }
        SendCmd(QStringLiteral("CLNT ") + client);
    }
    if (SupportsFeature(QStringLiteral("UTF8")))
        FUTF8 = true;
}

// AUTH TLS and the handshake on the control connection. A refusal or a
// failed handshake ends the session without QUIT: nothing more goes out.
void TIdFTP::StartControlTls()
{
    const QByteArray ace = QUrl::toAce(Host);
    FTlsContext = std::make_unique<TIdTlsContext>(ace.isEmpty() ? Host : QString::fromLatin1(ace));
    try {
        if (SendCmd(QStringLiteral("AUTH TLS")) != 234)
            throw EIdTLSError(QStringLiteral("the server refused AUTH TLS: %1")
                                  .arg(ReplyMessage(FLastCmdResult).trimmed()));
        // Bytes sent after the reply would be read as if they came encrypted.
        if (FInputPos < FInput.size())
            throw EIdTLSError(QStringLiteral("the server sent data before the TLS handshake."));
        FSocket->StartTls(*FTlsContext, nullptr, ReadTimeout);
    } catch (const EIdFTPAborted&) {
        EndAborted();
    } catch (const Exception&) {
        CloseControl();
        throw;
    }
}

// PBSZ 0 and PROT P: data connections encrypted too.
void TIdFTP::ProtectDataConnections()
{
    for (const char* command : {"PBSZ 0", "PROT P"})
        if (SendCmd(QLatin1String(command)) != 200)
            throw EIdTLSError(QStringLiteral("the server refused %1: %2")
                                  .arg(QLatin1String(command), ReplyMessage(FLastCmdResult).trimmed()));
}

void TIdFTP::SendTransferType()
{
    SendCmd(FTransferType == ftASCII ? QStringLiteral("TYPE A") : QStringLiteral("TYPE I"), {200});
}

void TIdFTP::SetTransferType(TIdFTPTransferType value)
{
    if (FInTransfer)
        return;
    const bool send = value != FTransferType && Connected();
    FTransferType = value;
    if (send)
        SendTransferType();
}

void TIdFTP::ChangeDir(const QString& directory)
{
    CheckCommandText(QStringLiteral("The directory"), directory, FUTF8);
    SendCmd(QStringLiteral("CWD ") + directory, {200, 250, 257});
}

void TIdFTP::Disconnect()
{
    try {
        if (Connected()) {
            WriteLine(QStringLiteral("QUIT"));
            ReadReply(FLastCmdResult,
                      ReadTimeout > 0 ? std::min(ReadTimeout, QuitReplyTimeout) : QuitReplyTimeout);
        }
    } catch (const Exception&) {
        // The session ends either way; a server gone silent changes nothing.
    }
    CloseControl();
}

void TIdFTP::Abort() { FAbortRequested = true; }

bool TIdFTP::AbortRequested() const
{
    return FAbortRequested || (StopRequest && *StopRequest);
}
