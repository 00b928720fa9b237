#include "db/iberror.h"

namespace {

const char* MessageText(TIBClientErrorIndex index)
{
    switch (index) {
    case ibxeUnknownError: return "Unknown error";
    case ibxeInterBaseMissing:
        return "InterBase library %s not found in the path. Please install InterBase to use this functionality";
    case ibxeIB60feature:
        return "%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this functonality";
    case ibxeNotPermitted: return "Not permitted";
    case ibxeDPBConstantNotSupported: return "DPB Constant (isc_dpb_%s) is unsupported";
    case ibxeTPBConstantNotSupported: return "TPB Constant (isc_tpb_%s) is unsupported";
    case ibxeDatabaseClosed: return "Cannot perform operation -- DB is not open";
    case ibxeDatabaseOpen: return "Cannot perform operation -- DB is currently open";
    case ibxeDatabaseNameMissing: return "Database name is missing";
    case ibxeNotInTransaction: return "Transaction is not active";
    case ibxeInTransaction: return "Transaction is active";
    case ibxeNoDatabasesInTransaction: return "No databases are listed in transaction component";
    case ibxeDatabaseNotAssigned: return "Database not assigned";
    case ibxeTransactionNotAssigned: return "Transaction not assigned";
    case ibxeInvalidStatementHandle: return "Invalid statement handle";
    case ibxeSQLOpen: return "IBSQL Open";
    case ibxeSQLClosed: return "IBSQL Closed";
    case ibxeDatasetOpen: return "Dataset open";
    case ibxeUnknownSQLDataType: return "Unknown SQL Data type (%d)";
    case ibxeEmptyQuery: return "Empty query";
    case ibxeSQLParseError: return "SQL Parse Error:\r\n\r\n%s";
    case ibxeEmptySQLStatement: return "Empty SQL Statement";
    case ibxeIsASelectStatement: return "use Open for a Select Statement";
    case ibxeSQLDialectInvalid: return "SQL Dialect Invalid";
    case ibxeDPBConstantUnknown: return "DPB Constant (%s) is unknown";
    }
    return "Unknown error";
}

} // namespace

QString IBClientErrorMessage(TIBClientErrorIndex index, const QStringList& args)
{
    const QString format = QString::fromLatin1(MessageText(index));
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && (format[i + 1] == u's' || format[i + 1] == u'd')) {
            if (next < args.size())
                out += args[next];
            ++next;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

void IBError(TIBClientErrorIndex index, const QStringList& args)
{
    throw EIBClientError(index, 0, IBClientErrorMessage(index, args));
}

void IBFeatureError(const QString& function, int neededVersion)
{
    const char* release = neededVersion >= 80000 ? "2007" : neededVersion >= 71000 ? "7.1" : "7.0";
    const QString message = QStringLiteral("%1 is an InterBase %2 function. Please upgrade to InterBase %2 to use this functonality")
                                .arg(function, QLatin1String(release));
    throw EIBClientError(ibxeUnknownError, 0, message);
}
