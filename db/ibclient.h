// The InterBase client library, loaded at run time, and the process-wide
// registry of server types. The Firebird client offers the same API.
#pragma once

#include <ibase.h>

#include <QLibrary>
#include <QString>

class TIBXSQLDA;

// A descriptor area (db/ibsql.h) as the client library sees it: the area
// itself, the area for a call (null while it has no columns), one column.
XSQLDA* Area(TIBXSQLDA& da);
XSQLDA* AsXSQLDA(TIBXSQLDA& da);
XSQLVAR& Var(TIBXSQLDA& da, int i);
const XSQLVAR& Var(const TIBXSQLDA& da, int i);

// Column types of the descriptor area beyond those of the client header.
constexpr short sqlBooleanInterBase = 590;

// The client API's transaction existence block: one entry per connection
// that a transaction spans.
struct TISCTeb {
    isc_db_handle* Database;
    ISC_LONG TpbLength;
    const char* Tpb;
};

// Entry points every client library must offer. Each is resolved by name.
#define ZEMBO_IB_REQUIRED_ENTRY_POINTS(X) \
    X(isc_attach_database)                 \
    X(isc_detach_database)                 \
    X(isc_database_info)                   \
    X(isc_drop_database)                   \
    X(isc_start_multiple)                  \
    X(isc_commit_transaction)              \
    X(isc_rollback_transaction)            \
    X(isc_commit_retaining)                \
    X(isc_dsql_alloc_statement2)           \
    X(isc_dsql_prepare)                    \
    X(isc_dsql_sql_info)                   \
    X(isc_dsql_describe)                   \
    X(isc_dsql_describe_bind)              \
    X(isc_dsql_execute)                    \
    X(isc_dsql_execute2)                   \
    X(isc_dsql_execute_immediate)          \
    X(isc_dsql_fetch)                      \
    X(isc_dsql_free_statement)             \
    X(isc_open_blob2)                      \
    X(isc_get_segment)                     \
    X(isc_close_blob)                      \
    X(isc_sqlcode)                         \
    X(isc_vax_integer)

// The services API (backup and restore). Resolved by name like the rest,
// but only asked for when used: a library without it still opens databases.
#define ZEMBO_IB_SERVICE_ENTRY_POINTS(X) \
    X(isc_service_attach)                 \
    X(isc_service_detach)                 \
    X(isc_service_start)                  \
    X(isc_service_query)

// Signatures of the entry points that not every client library has.
using TIscInterprete = ISC_LONG (*)(ISC_SCHAR*, const ISC_STATUS**);
using TIscRollbackRetaining = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*);
using TIscGetClientVersion = int (*)();
using TIscSavepoint = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, const char*);
using TIscRollbackSavepoint = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, const char*, unsigned short);
using TIscBatchExecuteImmed = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, ISC_LONG,
                                             char**, ISC_LONG*);

// One client library, shared by every connection of its server type.
class IGDSLibrary {
public:
    explicit IGDSLibrary(QString fileName);
    virtual ~IGDSLibrary() = default;
    IGDSLibrary(const IGDSLibrary&) = delete;
    IGDSLibrary& operator=(const IGDSLibrary&) = delete;

    // Loads the file and resolves its entry points the first time; a missing
    // file raises client error 1, a missing required entry point EOSError.
    void CheckLoaded();
    bool Loaded() const { return FLoaded; }
    QString LibraryName() const { return FFileName; }
    // major * 10000 + minor * 1000 when the library reports it, otherwise
    // 60000 or 50000 by the presence of isc_rollback_retaining.
    int ClientVersion() const { return FClientVersion; }

#define ZEMBO_IB_DECLARE(name) decltype(&::name) name = nullptr;
    ZEMBO_IB_REQUIRED_ENTRY_POINTS(ZEMBO_IB_DECLARE)
    TIscInterprete isc_interprete = nullptr;
    ZEMBO_IB_SERVICE_ENTRY_POINTS(ZEMBO_IB_DECLARE)
#undef ZEMBO_IB_DECLARE
    // Raises EOSError when the loaded library lacks the services API.
    void CheckServices() const;

    // Optional entry points: each raises the client error of the release
    // that introduced it when the loaded library lacks it.
    ISC_STATUS RollbackRetaining(ISC_STATUS* status, isc_tr_handle* tr) const;
    bool HasSavepoints() const { return FStartSavepoint && FReleaseSavepoint && FRollbackSavepoint; }
    ISC_STATUS StartSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name) const;
    ISC_STATUS ReleaseSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name) const;
    ISC_STATUS RollbackSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name, unsigned short option) const;
    bool HasBatch() const { return FBatchExecuteImmed != nullptr; }
    ISC_STATUS BatchExecuteImmed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short dialect,
                                 ISC_LONG count, char** statements, ISC_LONG* results) const;

private:
    QString FFileName;
    QLibrary FLibrary;
    QLibrary FXmlLibrary;
    bool FLoaded = false;
    int FClientVersion = 0;
    TIscRollbackRetaining FRollbackRetaining = nullptr;
    TIscSavepoint FStartSavepoint = nullptr;
    TIscSavepoint FReleaseSavepoint = nullptr;
    TIscRollbackSavepoint FRollbackSavepoint = nullptr;
    TIscBatchExecuteImmed FBatchExecuteImmed = nullptr;
};

// Server type "IBServer" and "IBEmbedded". Both load $ZEMBO_IB_CLIENT when
// set, else the platform's client library, which attaches a plain path
// in-process and a "host:path" through the server.
class TIBServerLibrary : public IGDSLibrary {
public:
    TIBServerLibrary();
};

class TIBEmbeddedLibrary : public IGDSLibrary {
public:
    TIBEmbeddedLibrary();
};

// Looks a server type up without regard to case; nullptr when unknown.
// registeredName receives the registered spelling.
IGDSLibrary* FindServerLibrary(const QString& serverType, QString* registeredName = nullptr);

// The status vector of one client call. Every call gets a vector of its
// own, so a clean-up call made after a failure (closing a blob, ending a
// statement) cannot overwrite the codes and texts of the failure that is
// being reported. Pass it where the call takes its status vector.
class TIBStatus {
public:
    TIBStatus() = default;
    TIBStatus(const TIBStatus&) = delete;
    TIBStatus& operator=(const TIBStatus&) = delete;

    operator ISC_STATUS*() { return FVector; }
    const ISC_STATUS* Vector() const { return FVector; }
    // The first error code; 0 after a successful call.
    ISC_STATUS Code() const { return FVector[1]; }
    // Whether an error code appears anywhere in the vector.
    bool Holds(ISC_STATUS code) const;
    // The server or the link to it went away: the handles are dead, and the
    // connection must be closed by force or no later Open could reconnect.
    bool ConnectionLost() const;
    // The client library's texts, one per line (CR LF), the final period
    // dropped.
    QString Message(IGDSLibrary& library) const;
    // Raises EIBInterBaseRoleError for SQL code -551, else EIBInterBaseError.
    [[noreturn]] void Raise(IGDSLibrary& library) const;

private:
    ISC_STATUS_ARRAY FVector{};
};

// Error codes this layer reacts to.
constexpr ISC_STATUS iscBadStmtHandle = 335544485;
constexpr ISC_STATUS iscReqSync = 335544572;
constexpr ISC_STATUS iscNetwork = 335544721;
constexpr ISC_STATUS iscNetReadError = 335544726;
constexpr ISC_STATUS iscNetWriteError = 335544727;
constexpr ISC_STATUS iscLostDbConnection = 335544741;
