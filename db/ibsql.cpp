#include "db/ibsql.h"

#include "db/ibclient.h"
#include "db/iberror.h"

#include <cstring>
#include <cmath>
#include <vector>

namespace {

// Days from the client's day 0 (17 November 1858) to 30 December 1899.
constexpr double isc_to_datetime_days = 15018.0;
constexpr double isc_ticks_per_day = 864000000.0;
// Output names stay within the version 1 area's name field.
constexpr int maxNameLength = 31;

bool IsNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

QString JoinLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

} // namespace

// ---------------------------------------------------------------- TIBXSQLDA

struct TIBSQLDAStorage {
    struct TFree {
        void operator()(XSQLDA* p) const { ::operator delete(p); }
    };
    std::unique_ptr<XSQLDA, TFree> Area;
    int Allocated = 0;
    std::vector<std::vector<char>> Buffers;
    std::vector<short> NullIndicators;
};

XSQLDA* Area(TIBXSQLDA& da)
{
    return da.Storage().Area.get();
}

XSQLDA* AsXSQLDA(TIBXSQLDA& da)
{
    return da.Count() ? Area(da) : nullptr;
}

XSQLVAR& Var(TIBXSQLDA& da, int i)
{
    return da.Storage().Area->sqlvar[i];
}

const XSQLVAR& Var(const TIBXSQLDA& da, int i)
{
    return da.Storage().Area->sqlvar[i];
}

TIBXSQLDA::TIBXSQLDA() : FStorage(std::make_unique<TIBSQLDAStorage>()) {}

TIBXSQLDA::~TIBXSQLDA() = default;

void TIBXSQLDA::SetCount(int count)
{
    TIBSQLDAStorage& s = *FStorage;
    if (count > s.Allocated) {
        const std::size_t size = XSQLDA_LENGTH(count);
        XSQLDA* area = static_cast<XSQLDA*>(::operator new(size));
        std::memset(area, 0, size);
        s.Area.reset(area);
        s.Allocated = count;
    }
    FCount = count;
    if (s.Area) {
        s.Area->version = SQLDA_VERSION1;
        s.Area->sqln = short(count);
        s.Area->sqld = short(count);
    }
}

void TIBXSQLDA::SetupBuffers()
{
    TIBSQLDAStorage& s = *FStorage;
    s.Buffers.assign(FCount, {});
    s.NullIndicators.assign(FCount, 0);
    for (int i = 0; i < FCount; ++i) {
        XSQLVAR& v = Var(*this, i);
        const short type = short(v.sqltype & ~1);
        int size = 0;
        switch (type) {
        case SQL_VARYING: size = v.sqllen + 2; break;
        case SQL_TEXT: case SQL_DOUBLE: case SQL_FLOAT: case SQL_LONG: case SQL_SHORT: case SQL_TIMESTAMP:
        case SQL_BLOB: case SQL_D_FLOAT: case SQL_ARRAY: case SQL_QUAD: case SQL_TYPE_TIME: case SQL_TYPE_DATE:
        case SQL_INT64: case sqlBooleanInterBase: case SQL_BOOLEAN: case SQL_NULL:
            size = v.sqllen ? v.sqllen : 1;
            break;
        default: IBError(ibxeUnknownSQLDataType, {QString::number(type)});
        }
        s.Buffers[i].assign(std::size_t(size), 0);
        v.sqldata = s.Buffers[i].data();
        v.sqlind = (v.sqltype & 1) ? &s.NullIndicators[i] : nullptr;
    }
}

bool TIBXSQLDA::IsNull(int i) const
{
    const XSQLVAR& v = Var(*this, i);
    return (v.sqltype & 1) && v.sqlind && *v.sqlind == -1;
}

// ---------------------------------------------------------- marker scan

// This scan and the statement splitter of the script runner
// (upgrade/ibsqlparser.cpp) both step over strings and comments, but not by
// the same rules, so they share no routine: here a string ends only at its
// own quote (a doubled quote stays inside it) and a comment only at a "*/"
// after its "/*", as the server reads a statement; the splitter toggles each
// kind of quote on its own and closes a comment at any "*/", even one whose
// "*" opened it, because the scripts in the catalogue were written against
// exactly that splitting and must keep being split the same way.

QString PreprocessSQL(const QString& text, bool generateParamNames, QStringList& names)
{
    enum { stNormal, stComment, stString, stMarker } state = stNormal;
    QString out;
    QChar quote;
    QString name;
    int generated = 0;
    const qsizetype length = text.size();
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = text[i];
        const bool last = i == length - 1;
        const QChar next = last ? QChar() : text[i + 1];
        switch (state) {
        case stNormal:
            if (c == u'\'' || c == u'"') {
                quote = c;
                state = stString;
                out += c;
            } else if (c == u'/' && next == u'*') {
                out += QStringLiteral("/*");
                ++i;
                state = stComment;
            } else if (c == u':' || c == u'?') {
                out += u'?';
                name.clear();
                state = stMarker;
            } else {
                out += c;
            }
            break;
        case stComment:
            if (last)
                IBError(ibxeSQLParseError, {QStringLiteral("EOF in comment detected")});
            out += c;
            if (c == u'*' && next == u'/') {
                out += next;
                ++i;
                state = stNormal;
            }
            break;
        case stString:
            if (last)
                IBError(ibxeSQLParseError, {QStringLiteral("EOF in string detected")});
            out += c;
            if (c == quote) {
                if (next == quote) {
                    out += next;
                    ++i;
                } else {
                    state = stNormal;
                }
            }
            break;
        case stMarker:
            if (name.isEmpty() && c == u'"') {
                const qsizetype close = text.indexOf(u'"', i + 1);
                const qsizetype end = close < 0 ? length : close;
                names.append(text.mid(i + 1, end - i - 1));
                i = end;
                state = stNormal;
            } else if (IsNameChar(c)) {
                name += c;
                if (last)
                    names.append(name);
            } else {
                if (name.isEmpty()) {
                    if (!generateParamNames)
                        IBError(ibxeSQLParseError, {QStringLiteral("Parameter name expected")});
                    name = QStringLiteral("IBParam") + QString::number(generated++);
                }
                names.append(name);
                state = stNormal;
                --i; // the ending character is normal text
            }
            break;
        }
    }
    return out;
}

// ------------------------------------------------------------------ TIBSQL

TIBSQL::TIBSQL(QObject* owner) : QObject(owner)
{
    FBase.BeforeTransactionEnd = [this] {
        if (FOpen)
            Close();
    };
    FBase.BeforeDatabaseDisconnect = [this] {
        Close();
        FreeHandle();
    };
}

TIBSQL::~TIBSQL()
{
    try {
        Close();
        FreeHandle();
    } catch (...) {
    }
}

void TIBSQL::SetSQL(const QStringList& lines)
{
    if (lines == FSQL)
        return;
    if (FHandle)
        FreeHandle();
    FSQL = lines;
    FPrepared = false;
}

TIBDatabase* TIBSQL::ErrorDatabase() const
{
    if (Transaction() && (Transaction()->DefaultDatabase() || Transaction()->DatabaseCount()))
        return Transaction()->FirstDatabase();
    return Database();
}

void TIBSQL::CheckStatus(TIBResult result, const TIBStatus& status)
{
    if (result)
        ErrorDatabase()->Check(result, status);
}

void TIBSQL::Prepare()
{
    if (FOpen)
        IBError(ibxeSQLOpen);
    FBase.CheckDatabase();
    if (!Database()->Connected())
        IBError(ibxeDatabaseClosed);
    FBase.CheckTransaction();
    if (!Transaction()->Active())
        IBError(ibxeNotInTransaction);
    if (FPrepared)
        return;
    if (FSQL.isEmpty())
        IBError(ibxeEmptyQuery);
    const QString text = JoinLines(FSQL);
    QStringList names;
    FProcessedSQL = FParamCheck ? PreprocessSQL(text, FGenerateParamNames, names) : text;
    if (FProcessedSQL.trimmed().isEmpty())
        IBError(ibxeEmptyQuery);

    TIBDatabase* db = Database();
    IGDSLibrary& library = db->GDSLibrary();
    TIBStatus status;
    CheckStatus(library.isc_dsql_alloc_statement2(status, db->Handle(), &FHandle), status);
    try {
        const unsigned short dialect = (unsigned short)db->SQLDialect();
        const QByteArray sql = db->Encode(FProcessedSQL);
        CheckStatus(library.isc_dsql_prepare(status, FBase.TRHandle(), &FHandle, 0, sql.constData(), dialect, nullptr),
                    status);

        const char item = isc_info_sql_stmt_type;
        char buffer[8] = {};
        CheckStatus(library.isc_dsql_sql_info(status, &FHandle, 1, &item, sizeof buffer, buffer), status);
        if (buffer[0] != isc_info_sql_stmt_type)
            IBError(ibxeUnknownError);
        const short length = short(library.isc_vax_integer(buffer + 1, 2));
        FSQLType = int(library.isc_vax_integer(buffer + 3, length));

        if (FSQLType == SQLGetSegment || FSQLType == SQLPutSegment || FSQLType == SQLStartTransaction) {
            FreeHandle();
            IBError(ibxeNotPermitted);
        }
        FInput.SetCount(0);
        FOutput.SetCount(0);
        if (FSQLType >= SQLSelect && FSQLType <= SQLSetGenerator) {
            if (!names.isEmpty()) {
                FInput.SetCount(int(names.size()));
                CheckStatus(library.isc_dsql_describe_bind(status, &FHandle, dialect, Area(FInput)), status);
                if (Area(FInput)->sqld > FInput.Count()) {
                    FInput.SetCount(Area(FInput)->sqld);
                    CheckStatus(library.isc_dsql_describe_bind(status, &FHandle, dialect, Area(FInput)), status);
                }
                FInput.SetCount(Area(FInput)->sqld);
                // Nothing binds values here: every parameter goes as null.
                for (int i = 0; i < FInput.Count(); ++i)
                    Var(FInput, i).sqltype |= 1;
                FInput.SetupBuffers();
                for (int i = 0; i < FInput.Count(); ++i)
                    *Var(FInput, i).sqlind = -1;
                FInput.SetNames(names.mid(0, FInput.Count()));
            }
            if (FSQLType == SQLSelect || FSQLType == SQLExecProcedure || FSQLType == SQLSelectForUpdate)
                DescribeOutput();
        }
        FPrepared = true;
    } catch (...) {
        try {
            FreeHandle();
        } catch (...) {
        }
        throw;
    }
}

void TIBSQL::DescribeOutput()
{
    TIBDatabase* db = Database();
    IGDSLibrary& library = db->GDSLibrary();
    TIBStatus status;
    const unsigned short dialect = (unsigned short)db->SQLDialect();
    FOutput.SetCount(1);
    CheckStatus(library.isc_dsql_describe(status, &FHandle, dialect, Area(FOutput)), status);
    const int columns = Area(FOutput)->sqld;
    if (columns > FOutput.Count()) {
        FOutput.SetCount(columns);
        CheckStatus(library.isc_dsql_describe(status, &FHandle, dialect, Area(FOutput)), status);
    }
    FOutput.SetCount(columns);
    FOutput.SetupBuffers();
    AssignOutputNames();
}

void TIBSQL::AssignOutputNames()
{
    QStringList names;
    auto taken = [&names](const QString& n) { return names.contains(n, Qt::CaseInsensitive); };
    for (int i = 0; i < FOutput.Count(); ++i) {
        const XSQLVAR& v = Var(FOutput, i);
        const QString alias = Database()->Decode(QByteArray(v.aliasname, v.aliasname_length));
        const QString base = alias.isEmpty() ? QStringLiteral("F_") : alias;
        QString name = alias;
        for (int suffix = 1; name.isEmpty() || taken(name); ++suffix) {
            const QString s = QString::number(suffix);
            name = base.left(maxNameLength - s.size()) + s;
        }
        names.append(name);
    }
    FOutput.SetNames(names);
}

void TIBSQL::ExecQuery()
{
    if (FOpen)
        IBError(ibxeSQLOpen);
    if (!FPrepared)
        Prepare();
    FBase.CheckTransaction();
    if (!Transaction()->Active())
        IBError(ibxeNotInTransaction);
    if (!FHandle)
        IBError(ibxeInvalidStatementHandle);
    IGDSLibrary& library = Database()->GDSLibrary();
    TIBStatus status;
    const unsigned short dialect = (unsigned short)Database()->SQLDialect();
    switch (FSQLType) {
    case SQLSelect:
        CheckStatus(library.isc_dsql_execute2(status, FBase.TRHandle(), &FHandle, dialect, AsXSQLDA(FInput), nullptr),
                    status);
        FOpen = true;
        FBOF = true;
        FEOF = false;
        FRecordCount = 0;
        if (FGoToFirstRecordOnExecute)
            Next();
        break;
    case SQLExecProcedure: {
        ISC_STATUS r = library.isc_dsql_execute2(status, FBase.TRHandle(), &FHandle, dialect, AsXSQLDA(FInput),
                                                 AsXSQLDA(FOutput));
        if (r && status.Code() == iscBadStmtHandle) {
            const QByteArray sql = Database()->Encode(FProcessedSQL);
            CheckStatus(library.isc_dsql_prepare(status, FBase.TRHandle(), &FHandle, 0, sql.constData(), dialect,
                                                 nullptr), status);
            r = library.isc_dsql_execute2(status, FBase.TRHandle(), &FHandle, dialect, AsXSQLDA(FInput),
                                          AsXSQLDA(FOutput));
        }
        CheckStatus(r, status);
        break;
    }
    default:
        CheckStatus(library.isc_dsql_execute(status, FBase.TRHandle(), &FHandle, dialect, AsXSQLDA(FInput)), status);
        break;
    }
}

bool TIBSQL::Next()
{
    if (FEOF)
        return false;
    if (!FOpen)
        IBError(ibxeSQLClosed);
    IGDSLibrary& library = Database()->GDSLibrary();
    TIBStatus status;
    const ISC_STATUS r =
        library.isc_dsql_fetch(status, &FHandle, (unsigned short)Database()->SQLDialect(), AsXSQLDA(FOutput));
    if (r == 100 || (r && status.Holds(iscReqSync))) {
        FEOF = true;
        return false;
    }
    if (r) {
        try {
            CheckStatus(r, status);
        } catch (...) {
            try {
                Close();
            } catch (...) {
            }
            throw;
        }
    }
    ++FRecordCount;
    FBOF = false;
    return true;
}

void TIBSQL::Close()
{
    const bool closeCursor = FOpen && FSQLType == SQLSelect && Database() && Database()->Connected();
    FOpen = false;
    FBOF = false;
    FEOF = false;
    FRecordCount = 0;
    if (!closeCursor)
        return;
    TIBStatus status;
    const ISC_STATUS result = Database()->GDSLibrary().isc_dsql_free_statement(status, &FHandle, DSQL_close);
    if (result && !status.Holds(iscBadStmtHandle))
        Database()->Check(result, status);
}

void TIBSQL::FreeHandle()
{
    const bool drop = FHandle && Database() && Database()->Connected();
    isc_stmt_handle handle = FHandle;
    FHandle = 0;
    FPrepared = false;
    if (!drop)
        return;
    TIBStatus status;
    // A statement the server no longer knows, or no longer can, is gone.
    if (Database()->GDSLibrary().isc_dsql_free_statement(status, &handle, DSQL_drop)
        && status.Code() != iscBadStmtHandle && status.Code() != iscLostDbConnection)
        status.Raise(Database()->GDSLibrary());
}

QByteArray TIBSQL::ReadBlob(const ISC_QUAD& id)
{
    IGDSLibrary& library = Database()->GDSLibrary();
    TIBStatus status;
    isc_blob_handle blob = 0;
    ISC_QUAD blobId = id;
    CheckStatus(library.isc_open_blob2(status, FBase.DBHandle(), FBase.TRHandle(), &blob, &blobId, 0, nullptr), status);
    QByteArray data;
    char segment[8192];
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS r = library.isc_get_segment(status, &blob, &got, sizeof segment, segment);
        if (r && status.Code() != isc_segment) {
            if (status.Code() == isc_segstr_eof)
                break;
            TIBStatus closing; // the read's failure is the one to report
            library.isc_close_blob(closing, &blob);
            CheckStatus(r, status);
        }
        data.append(segment, got);
    }
    CheckStatus(library.isc_close_blob(status, &blob), status);
    return data;
}

QVariant TIBSQL::FieldValue(int i)
{
    if (FOutput.IsNull(i))
        return {};
    const XSQLVAR& v = Var(FOutput, i);
    const char* data = v.sqldata;
    const double scale = v.sqlscale ? std::pow(10.0, v.sqlscale) : 1.0;
    auto integer = [&](qint64 n) -> QVariant { return v.sqlscale ? QVariant(double(n) * scale) : QVariant(n); };
    switch (v.sqltype & ~1) {
    case SQL_VARYING: {
        short count;
        std::memcpy(&count, data, 2);
        return Database()->Decode(QByteArray(data + 2, count));
    }
    case SQL_TEXT: return Database()->Decode(QByteArray(data, v.sqllen));
    case SQL_SHORT: { qint16 n; std::memcpy(&n, data, 2); return integer(n); }
    case SQL_LONG: { qint32 n; std::memcpy(&n, data, 4); return integer(n); }
    case SQL_INT64: { qint64 n; std::memcpy(&n, data, 8); return integer(n); }
    case SQL_FLOAT: { float f; std::memcpy(&f, data, 4); return double(f); }
    case SQL_DOUBLE: case SQL_D_FLOAT: { double d; std::memcpy(&d, data, 8); return d; }
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP t;
        std::memcpy(&t, data, sizeof t);
        return double(t.timestamp_date) - isc_to_datetime_days + double(t.timestamp_time) / isc_ticks_per_day;
    }
    case SQL_TYPE_DATE: { ISC_DATE d; std::memcpy(&d, data, sizeof d); return double(d) - isc_to_datetime_days; }
    case SQL_TYPE_TIME: { ISC_TIME t; std::memcpy(&t, data, sizeof t); return double(t) / isc_ticks_per_day; }
    case sqlBooleanInterBase: case SQL_BOOLEAN: return data[0] != 0;
    case SQL_BLOB: {
        ISC_QUAD id;
        std::memcpy(&id, data, sizeof id);
        const QByteArray bytes = ReadBlob(id);
        return v.sqlsubtype == 1 ? QVariant(Database()->Decode(bytes)) : QVariant(bytes);
    }
    default: return {};
    }
}
