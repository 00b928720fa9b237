// The FTP client's failures. Their messages are shown to the operator as they
// stand, so the texts are fixed.
#pragma once

#include "platform/errors.h"

#include <cstdint>

class EIdException : public Exception {
public:
    using Exception::Exception;
};

class EIdReplyError : public EIdException {
public:
    using EIdException::EIdException;
};

// A reply the operation did not allow; the message is the reply's text.
class EIdReplyRFCError : public EIdReplyError {
public:
    EIdReplyRFCError(int code, QString message) : EIdReplyError(std::move(message)), FErrorCode(code) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// REST was not answered by 350: the download may start over instead.
class EIdFTPRestRefused : public EIdReplyRFCError {
public:
    using EIdReplyRFCError::EIdReplyRFCError;
};

// 421: the server is closing the session.
class EIdFTPServiceNotAvailable : public EIdReplyRFCError {
public:
    using EIdReplyRFCError::EIdReplyRFCError;
};

class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully() : EIdSilentException(QStringLiteral("Connection Closed Gracefully.")) {}
};

// Carries the socket error number in the numbering operators know from
// Windows (10061 "Connection refused." and so on).
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int lastError, const QString& text);
    int LastError() const noexcept { return FLastError; }

private:
    int FLastError;
};

class EIdNotConnected : public EIdException {
public:
    EIdNotConnected() : EIdException(QStringLiteral("Not Connected")) {}
};

class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException(QStringLiteral("Already connected.")) {}
};

class EIdHostRequired : public EIdException {
public:
    EIdHostRequired() : EIdException(QString()) {}
};

class EIdPortRequired : public EIdException {
public:
    EIdPortRequired() : EIdException(QString()) {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
    EIdReadLnMaxLineLengthExceeded() : EIdException(QStringLiteral("Max line length exceeded.")) {}
};

class EIdAcceptTimeout : public EIdException {
public:
    EIdAcceptTimeout() : EIdException(QStringLiteral("Accept timed out.")) {}
};

// A bounded wait ran out: the message names the wait ("Read timed out.",
// "Transfer timed out.").
class EIdReadTimeout : public EIdException {
public:
    using EIdException::EIdException;
};

// TLS was asked for and could not be had: the server refused it, the
// handshake failed, or the certificate did not verify. The message names the
// reason; nothing more was sent in clear.
class EIdTLSError : public EIdException {
public:
    explicit EIdTLSError(const QString& reason) : EIdException(QStringLiteral("TLS failure: ") + reason) {}
};

class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout() : EIdException(QStringLiteral("Connect timed out.")) {}
};

// Text meant for a command that cannot be sent as it stands: a line break or
// NUL would end the command early and send the rest as commands of their own.
class EIdFTPBadArgument : public EIdException {
public:
    using EIdException::EIdException;
};

// The caller asked the running transfer to stop (TIdFTP::Abort).
class EIdFTPAborted : public EIdException {
public:
    EIdFTPAborted() : EIdException(QStringLiteral("Transfer aborted on request.")) {}
};

// A transfer whose length differs from the size known for it.
class EIdFTPSizeMismatch : public EIdException {
public:
    // A transfer is read no further than one byte past the expected size:
    // more is told as "more than".
    EIdFTPSizeMismatch(std::int64_t received, std::int64_t expected)
        : EIdException(QStringLiteral("Transfer size mismatch: %1%2 bytes received, %3 bytes expected.")
                           .arg(received > expected ? QStringLiteral("more than ") : QString())
                           .arg(received > expected ? expected : received)
                           .arg(expected)) {}
};

class EIdFTPFileAlreadyExists : public EIdException {
public:
    EIdFTPFileAlreadyExists() : EIdException(QStringLiteral("Destination file already exists.")) {}
};

// The local destination file cannot be created.
class EFCreateError : public Exception {
public:
    EFCreateError(const QString& path, const QString& reason)
        : Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason)) {}
};
