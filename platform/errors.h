// The one error base class every failure of the program derives from.
#pragma once

#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A value that cannot be converted (date and time encoding, number syntax).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A failed operating-system call; carries the system's error code.
class EOSError : public Exception {
public:
    EOSError(int code, QString message) : Exception(std::move(message)), FErrorCode(code) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// File could not be read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// The English text the program reports for an error code; a code it has no
// text for reads "System error.  Code: N.".
QString SysErrorMessage(int code);

// The text of any error: an Exception's message, else what() read as UTF-8.
QString ErrorText(const std::exception& error);

// Error codes the program reports with EOSError.
enum : int {
    osErrorFileNotFound = 2,
    osErrorPathNotFound = 3,
    osErrorAccessDenied = 5,
    osErrorBadFormat = 13,
    osErrorRegistryIo = 1012,
};
