// A stand-in client library for the error paths and call orders that a real
// server does not produce on demand. It records every call by name.
// Control lines (fake_control): "reset", "fail NAME CODE SQLCODE TEXT|TEXT",
// "columns A,B,,C" (output aliases; empty means no alias; a name beginning
// with BLOB makes a blob column).
// The header marks isc_interprete deprecated; this library defines its own.
#define isc_interprete isc_interprete_declared_by_header
#include <ibase.h>
#undef isc_interprete

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string calls;
struct {
    std::string Function;
    ISC_STATUS Code = 0;
    int SqlCode = 0;
    std::vector<std::string> Texts;
} failure;
std::vector<std::string> columns = {"CT"};
int fetched = 0;
int sqlType = 1;
int interpreted = 0;

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::string::size_type start = 0;
    for (;;) {
        const auto p = s.find(sep, start);
        out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos)
            return out;
        start = p + 1;
    }
}

bool StartsWith(const std::string& text, const char* prefix)
{
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

ISC_STATUS Call(const char* name, ISC_STATUS* status)
{
    calls += name;
    calls += '\n';
    if (failure.Function != name) {
        status[0] = 1;
        status[1] = 0;
        status[2] = 0;
        return 0;
    }
    // One error cluster per text, the first carrying the code.
    int i = 0;
    for (std::size_t t = 0; t < failure.Texts.size() && i < 17; ++t) {
        status[i++] = isc_arg_gds;
        status[i++] = t == 0 ? failure.Code : 335544382;
    }
    status[i] = isc_arg_end;
    interpreted = 0;
    return status[1];
}

} // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT void fake_control(const char* line)
{
    const std::string s(line);
    if (s == "reset") {
        calls.clear();
        failure = {};
        columns = {"CT"};
    } else if (s.rfind("fail ", 0) == 0) {
        const auto parts = Split(s.substr(5), ' ');
        failure.Function = parts[0];
        failure.Code = std::stol(parts[1]);
        failure.SqlCode = std::stoi(parts[2]);
        const auto rest = s.substr(5 + parts[0].size() + parts[1].size() + parts[2].size() + 3);
        failure.Texts = Split(rest, '|');
    } else if (s.rfind("columns ", 0) == 0) {
        columns = Split(s.substr(8), ',');
    }
}

FAKE_EXPORT const char* fake_calls()
{
    return calls.c_str();
}

#ifndef FAKE_NO_ATTACH
FAKE_EXPORT ISC_STATUS isc_attach_database(ISC_STATUS* s, short, const ISC_SCHAR*, isc_db_handle* db, short,
                                           const ISC_SCHAR*)
{
    const ISC_STATUS r = Call("isc_attach_database", s);
    if (!r)
        *db = 1;
    return r;
}
#endif

FAKE_EXPORT ISC_STATUS isc_detach_database(ISC_STATUS* s, isc_db_handle* db)
{
    // A failed detach keeps the handle, as the real client does.
    const ISC_STATUS r = Call("isc_detach_database", s);
    if (!r)
        *db = 0;
    return r;
}

FAKE_EXPORT ISC_STATUS isc_drop_database(ISC_STATUS* s, isc_db_handle* db)
{
    *db = 0;
    return Call("isc_drop_database", s);
}

FAKE_EXPORT ISC_STATUS isc_database_info(ISC_STATUS* s, isc_db_handle*, short, const ISC_SCHAR*, short,
                                         ISC_SCHAR* buffer)
{
    const char reply[] = {isc_info_db_sql_dialect, 1, 0, 1, isc_info_end};
    std::memcpy(buffer, reply, sizeof reply);
    return Call("isc_database_info", s);
}

FAKE_EXPORT ISC_STATUS isc_start_multiple(ISC_STATUS* s, isc_tr_handle* tr, short, void*)
{
    const ISC_STATUS r = Call("isc_start_multiple", s);
    if (!r)
        *tr = 2;
    return r;
}

FAKE_EXPORT ISC_STATUS isc_commit_transaction(ISC_STATUS* s, isc_tr_handle* tr)
{
    const ISC_STATUS r = Call("isc_commit_transaction", s);
    if (!r)
        *tr = 0;
    return r;
}

FAKE_EXPORT ISC_STATUS isc_rollback_transaction(ISC_STATUS* s, isc_tr_handle* tr)
{
    const ISC_STATUS r = Call("isc_rollback_transaction", s);
    if (!r)
        *tr = 0;
    return r;
}

FAKE_EXPORT ISC_STATUS isc_commit_retaining(ISC_STATUS* s, isc_tr_handle*)
{
    return Call("isc_commit_retaining", s);
}

#ifndef FAKE_NO_RETAINING
FAKE_EXPORT ISC_STATUS isc_rollback_retaining(ISC_STATUS* s, isc_tr_handle*)
{
    return Call("isc_rollback_retaining", s);
}

FAKE_EXPORT void isc_get_client_version(ISC_SCHAR* buffer)
{
    std::strcpy(buffer, "fake 6.3");
}

FAKE_EXPORT int isc_get_client_major_version()
{
    return 6;
}

FAKE_EXPORT int isc_get_client_minor_version()
{
    return 3;
}
#endif

FAKE_EXPORT ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* s, isc_db_handle*, isc_stmt_handle* st)
{
    *st = 3;
    return Call("isc_dsql_alloc_statement2", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_prepare(ISC_STATUS* s, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                        const ISC_SCHAR* sql, unsigned short, XSQLDA*)
{
    const std::string text(sql);
    sqlType = StartsWith(text, "select") ? 1 : StartsWith(text, "set transaction") ? 9 : 2;
    return Call("isc_dsql_prepare", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_sql_info(ISC_STATUS* s, isc_stmt_handle*, short, const ISC_SCHAR*, short,
                                         ISC_SCHAR* buffer)
{
    const char reply[] = {isc_info_sql_stmt_type, 4, 0, char(sqlType), 0, 0, 0, isc_info_end};
    std::memcpy(buffer, reply, sizeof reply);
    return Call("isc_dsql_sql_info", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_describe(ISC_STATUS* s, isc_stmt_handle*, unsigned short, XSQLDA* da)
{
    da->sqld = short(columns.size());
    for (int i = 0; i < da->sqln && i < int(columns.size()); ++i) {
        XSQLVAR& v = da->sqlvar[i];
        const bool blob = columns[i].rfind("BLOB", 0) == 0;
        v.sqltype = (blob ? SQL_BLOB : SQL_LONG) + 1;
        v.sqllen = blob ? 8 : 4;
        v.sqlsubtype = 0;
        v.sqlscale = 0;
        v.aliasname_length = short(columns[i].size());
        std::memcpy(v.aliasname, columns[i].data(), columns[i].size());
        v.relname_length = 0;
    }
    fetched = 0;
    return Call("isc_dsql_describe", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* s, isc_stmt_handle*, unsigned short, XSQLDA* da)
{
    da->sqld = 0;
    return Call("isc_dsql_describe_bind", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_execute(ISC_STATUS* s, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                        const XSQLDA*)
{
    return Call("isc_dsql_execute", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_execute2(ISC_STATUS* s, isc_tr_handle*, isc_stmt_handle*, unsigned short,
                                         const XSQLDA*, const XSQLDA*)
{
    fetched = 0;
    return Call("isc_dsql_execute2", s);
}

FAKE_EXPORT ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* s, isc_db_handle* db, isc_tr_handle*, unsigned short,
                                                  const ISC_SCHAR*, unsigned short, const XSQLDA*)
{
    const ISC_STATUS r = Call("isc_dsql_execute_immediate", s);
    if (!r && !*db)
        *db = 1;
    return r;
}

FAKE_EXPORT ISC_STATUS isc_dsql_fetch(ISC_STATUS* s, isc_stmt_handle*, unsigned short, const XSQLDA* da)
{
    const ISC_STATUS r = Call("isc_dsql_fetch", s);
    if (r)
        return r;
    if (fetched++)
        return 100;
    for (int i = 0; i < da->sqld; ++i) {
        const ISC_LONG v = 7 + i;
        std::memcpy(da->sqlvar[i].sqldata, &v, 4);
        *da->sqlvar[i].sqlind = 0;
    }
    return 0;
}

FAKE_EXPORT ISC_STATUS isc_dsql_free_statement(ISC_STATUS* s, isc_stmt_handle* st, unsigned short option)
{
    if (option == DSQL_drop)
        *st = 0;
    return Call(option == DSQL_drop ? "isc_dsql_free_statement(drop)" : "isc_dsql_free_statement(close)", s);
}

FAKE_EXPORT ISC_STATUS isc_open_blob2(ISC_STATUS* s, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                                      ISC_USHORT, const ISC_UCHAR*)
{
    return Call("isc_open_blob2", s);
}

FAKE_EXPORT ISC_STATUS isc_get_segment(ISC_STATUS* s, isc_blob_handle*, unsigned short* got, unsigned short, ISC_SCHAR*)
{
    *got = 0;
    if (const ISC_STATUS r = Call("isc_get_segment", s))
        return r;
    s[0] = 1;
    s[1] = isc_segstr_eof;
    s[2] = 0;
    return isc_segstr_eof;
}

FAKE_EXPORT ISC_STATUS isc_close_blob(ISC_STATUS* s, isc_blob_handle*)
{
    return Call("isc_close_blob", s);
}

FAKE_EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS*)
{
    return failure.SqlCode;
}

FAKE_EXPORT ISC_LONG isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** vector)
{
    if (**vector == isc_arg_end || interpreted >= int(failure.Texts.size()))
        return 0;
    const std::string& text = failure.Texts[interpreted++];
    std::strcpy(buffer, text.c_str());
    *vector += 2;
    return ISC_LONG(text.size());
}

FAKE_EXPORT ISC_LONG isc_vax_integer(const ISC_SCHAR* p, short length)
{
    ISC_LONG v = 0;
    for (short i = 0; i < length; ++i)
        v |= ISC_LONG(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}
