// The InterBase error family: errors the client library reports and errors
// this access layer finds itself.
#pragma once

#include "db/dberror.h"

#include <QStringList>

class EIBError : public EDatabaseError {
public:
    EIBError(int sqlCode, int ibErrorCode, const QString& message)
        : EDatabaseError(message), FSQLCode(sqlCode), FIBErrorCode(ibErrorCode) {}
    int SQLCode() const { return FSQLCode; }
    int IBErrorCode() const { return FIBErrorCode; }

private:
    int FSQLCode;
    int FIBErrorCode;
};

// Reported by the client library through the status vector.
class EIBInterBaseError : public EIBError {
public:
    using EIBError::EIBError;
};

// Reported by the client library with SQL code -551 (no permission).
class EIBInterBaseRoleError : public EIBError {
public:
    using EIBError::EIBError;
};

// Found by this layer; SQLCode is the index of the message below.
class EIBClientError : public EIBError {
public:
    using EIBError::EIBError;
};

enum TIBClientErrorIndex : int {
    ibxeUnknownError = 0,
    ibxeInterBaseMissing = 1,
    ibxeIB60feature = 3,
    ibxeNotPermitted = 5,
    ibxeDPBConstantNotSupported = 11,
    ibxeTPBConstantNotSupported = 13,
    ibxeDatabaseClosed = 15,
    ibxeDatabaseOpen = 16,
    ibxeDatabaseNameMissing = 17,
    ibxeNotInTransaction = 18,
    ibxeInTransaction = 19,
    ibxeNoDatabasesInTransaction = 21,
    ibxeDatabaseNotAssigned = 24,
    ibxeTransactionNotAssigned = 25,
    ibxeInvalidStatementHandle = 30,
    ibxeSQLOpen = 31,
    ibxeSQLClosed = 32,
    ibxeDatasetOpen = 33,
    ibxeUnknownSQLDataType = 35,
    ibxeEmptyQuery = 42,
    ibxeSQLParseError = 55,
    ibxeEmptySQLStatement = 65,
    ibxeIsASelectStatement = 66,
    ibxeSQLDialectInvalid = 87,
    ibxeDPBConstantUnknown = 114,
};

// The message of a client error, its %s / %d markers replaced in order.
QString IBClientErrorMessage(TIBClientErrorIndex index, const QStringList& args = {});

[[noreturn]] void IBError(TIBClientErrorIndex index, const QStringList& args = {});

// Raised for a function the loaded client library is too old to offer.
[[noreturn]] void IBFeatureError(const QString& function, int neededVersion);
