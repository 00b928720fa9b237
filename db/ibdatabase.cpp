#include "db/ibdatabase.h"

#include "db/ibclient.h"
#include "db/iberror.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/scoped.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <type_traits>
#include <vector>

// The public headers name the client library's types by names of their own.
static_assert(std::is_same_v<TIBHandle, isc_db_handle> && std::is_same_v<TIBHandle, isc_tr_handle>
              && std::is_same_v<TIBHandle, isc_stmt_handle>);
static_assert(std::is_same_v<TIBResult, ISC_STATUS>);

namespace {

// Names of the database parameter block, indexed by their code.
const char* const DpbNames[] = {
    "",
    "cdd_pathname", "allocation", "journal", "page_size", "num_buffers", "buffer_length", "debug",
    "garbage_collect", "verify", "sweep", "enable_journal", "disable_journal", "dbkey_scope",
    "number_of_users", "trace", "no_garbage_collect", "damaged", "license", "sys_user_name",
    "encrypt_key", "activate_shadow", "sweep_interval", "delete_shadow", "force_write", "begin_log",
    "quit_log", "no_reserve", "user_name", "password", "password_enc", "sys_user_name_enc", "interp",
    "online_dump", "old_file_size", "old_num_files", "old_file", "old_start_page", "old_start_seqno",
    "old_start_file", "drop_walfile", "old_dump_id", "wal_backup_dir", "wal_chkptlen", "wal_numbufs",
    "wal_bufsize", "wal_grp_cmt_wait", "lc_messages", "lc_ctype", "cache_manager", "shutdown", "online",
    "shutdown_delay", "reserved", "overwrite", "sec_attach", "disable_wal", "connect_timeout",
    "dummy_packet_interval", "gbak_attach", "sql_role_name", "set_page_buffers", "working_directory",
    "sql_dialect", "set_db_readonly", "set_db_sql_dialect", "gfix_attach", "gstat_attach",
    "set_db_charset", "gsec_attach", "address_path", "process_id", "no_db_triggers", "trusted_auth",
    "process_name", "trusted_role", "org_filename", "utf8_filename", "ext_call_depth", "auth_block",
    "client_version", "remote_protocol", "host_name", "os_user", "specific_auth_data",
    "auth_plugin_list", "auth_plugin_name", "config", "nolinger",
};

// Names of the transaction parameter block, indexed by their code.
const char* const TpbNames[] = {
    "",
    "consistency", "concurrency", "shared", "protected", "exclusive", "wait", "nowait", "read", "write",
    "lock_read", "lock_write", "verb_time", "commit_time", "ignore_limbo", "read_committed", "autocommit",
    "rec_version", "no_rec_version", "restart_requests", "no_auto_undo", "no_savepoint",
};

// The code page of a connection character set, by its server name; empty
// for NONE and for sets not named here, which use the ANSI code page.
QByteArray CodePageOf(const QString& characterSet)
{
    const QString name = characterSet.trimmed().toUpper();
    if (name == u"UTF8" || name == u"UNICODE_FSS")
        return "UTF-8";
    if (name == u"WIN1252")
        return "windows-1252";
    if (name == u"ISO8859_1")
        return "ISO-8859-1";
    return {};
}

template <std::size_t N>
int FindName(const char* const (&table)[N], const QString& name)
{
    for (std::size_t i = 1; i < N; ++i)
        if (name.compare(QLatin1String(table[i]), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool OneOf(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

// One "name=value" line: the lower-cased name less its prefix, the name as
// written (for messages) and the value.
struct TParamLine {
    QString Name;
    QString Written;
    QString Value;
};

TParamLine SplitParam(const QString& line, QLatin1String prefix)
{
    TParamLine p;
    const qsizetype eq = line.indexOf(u'=');
    p.Written = eq < 0 ? line : line.left(eq);
    if (p.Written.trimmed().isEmpty())
        p.Written = line;
    else if (eq >= 0)
        p.Value = line.mid(eq + 1);
    if (p.Written.startsWith(prefix, Qt::CaseInsensitive))
        p.Written = p.Written.mid(prefix.size());
    p.Name = p.Written.toLower();
    return p;
}

int DecimalValue(const QString& value)
{
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(value));
    return v;
}

void AppendText(QByteArray& block, char code, const QByteArray& value, const QString& name)
{
    if (value.size() > 255)
        throw EIBClientError(ibxeUnknownError, 0,
                             QStringLiteral("Parameter value for %1 is longer than 255 bytes").arg(name));
    block.append(code);
    block.append(char(value.size()));
    block.append(value);
}

// Calls one callback of every statement object; a forced run ignores their
// errors.
void Notify(const QList<TIBBase*>& objects, std::function<void()> TIBBase::*callback, bool force)
{
    for (TIBBase* b : QList<TIBBase*>(objects)) {
        const std::function<void()> f = b->*callback;
        if (!f)
            continue;
        if (!force) {
            f();
            continue;
        }
        try {
            f();
        } catch (...) {
        }
    }
}

} // namespace

QByteArray BuildDpb(const QStringList& params)
{
    QByteArray dpb(1, char(isc_dpb_version1));
    for (const QString& line : params) {
        const TParamLine p = SplitParam(line, QLatin1String("isc_dpb_"));
        const int code = FindName(DpbNames, p.Name);
        if (code < 0)
            IBError(ibxeDPBConstantUnknown, {p.Written});
        const char c = char(code);
        if (OneOf(p.Name, {"num_buffers", "sweep_interval", "old_file_size"})) {
            const quint32 v = quint32(DecimalValue(p.Value));
            dpb.append(c);
            dpb.append(char(4));
            for (int i = 0; i < 4; ++i)
                dpb.append(char((v >> (8 * i)) & 0xFF));
        } else if (OneOf(p.Name, {"verify", "dbkey_scope", "damaged", "force_write", "no_reserve", "online_dump",
                                  "overwrite"})) {
            dpb.append(c);
            dpb.append(char(1));
            dpb.append(char(DecimalValue(p.Value) & 0xFF));
        } else if (p.Name == QLatin1String("sweep")) {
            dpb.append(c);
            dpb.append(char(1));
            dpb.append(char(2));
        } else if (OneOf(p.Name, {"license", "sys_user_name", "encrypt_key", "user_name", "password", "password_enc",
                                  "lc_messages", "lc_ctype", "sql_role_name", "sql_dialect"})) {
            QByteArray value = ToAnsi(p.Value);
            if (p.Name == QLatin1String("sql_dialect") && !value.isEmpty())
                value[0] = char(value[0] - '0');
            AppendText(dpb, c, value, p.Written);
        } else if (OneOf(p.Name, {"activate_shadow", "delete_shadow", "begin_log", "quit_log"})) {
            dpb.append(c);
            dpb.append(char(1));
            dpb.append(char(0));
        } else {
            IBError(ibxeDPBConstantNotSupported, {p.Written});
        }
    }
    if (dpb.size() > 32767)
        throw EIBClientError(ibxeUnknownError, 0, QStringLiteral("Database parameter block is longer than 32767 bytes"));
    return dpb;
}

QByteArray BuildTpb(const QStringList& params)
{
    if (params.isEmpty())
        return {};
    QByteArray tpb(1, char(isc_tpb_version3));
    for (const QString& line : params) {
        if (line.trimmed().isEmpty())
            continue;
        const TParamLine p = SplitParam(line, QLatin1String("isc_tpb_"));
        const int code = FindName(TpbNames, p.Name);
        if (code < 0 || OneOf(p.Name, {"verb_time", "commit_time", "autocommit"}))
            IBError(ibxeTPBConstantNotSupported, {p.Written});
        if (OneOf(p.Name, {"lock_read", "lock_write"}))
            AppendText(tpb, char(code), ToAnsi(p.Value), p.Written);
        else
            tpb.append(char(code));
    }
    return tpb;
}

// ---------------------------------------------------------------- TIBBase

TIBBase::~TIBBase()
{
    SetDatabase(nullptr);
    SetTransaction(nullptr);
}

void TIBBase::SetDatabase(TIBDatabase* database)
{
    if (FDatabase == database)
        return;
    if (FDatabase)
        FDatabase->FSQLObjects.removeAll(this);
    FDatabase = database;
    if (!database)
        return;
    database->FSQLObjects.append(this);
    if (!FTransaction) {
        TIBTransaction* t = database->DefaultTransaction();
        for (TIBTransaction* candidate : database->FTransactions)
            if (!t && candidate->DefaultDatabase() == database)
                t = candidate;
        if (t)
            SetTransaction(t);
    }
}

void TIBBase::SetTransaction(TIBTransaction* transaction)
{
    if (FTransaction == transaction)
        return;
    if (FTransaction)
        FTransaction->FSQLObjects.removeAll(this);
    FTransaction = transaction;
    if (!transaction)
        return;
    transaction->FSQLObjects.append(this);
    if (!FDatabase) {
        TIBDatabase* d = transaction->DefaultDatabase();
        for (int i = 0; !d && i < transaction->DatabaseCount(); ++i)
            if (transaction->Databases(i)->DefaultTransaction() == transaction)
                d = transaction->Databases(i);
        if (d)
            SetDatabase(d);
    }
}

void TIBBase::CheckDatabase() const
{
    if (!FDatabase)
        IBError(ibxeDatabaseNotAssigned);
}

void TIBBase::CheckTransaction() const
{
    if (!FTransaction)
        IBError(ibxeTransactionNotAssigned);
}

TIBHandle* TIBBase::DBHandle() const
{
    CheckDatabase();
    return FDatabase->Handle();
}

TIBHandle* TIBBase::TRHandle() const
{
    CheckTransaction();
    return FTransaction->Handle();
}

// ------------------------------------------------------------ TIBDatabase

TIBDatabase::TIBDatabase(QObject* owner) : QObject(owner) {}

TIBDatabase::~TIBDatabase()
{
    // Nothing may leave a destructor. A close that fails closes by force; a
    // forced close that fails too (an event handler raising) still detaches.
    if (FHandle) {
        try {
            Close();
        } catch (...) {
            try {
                ForceClose();
            } catch (...) {
                TIBStatus ignored;
                if (FLibrary)
                    FLibrary->isc_detach_database(ignored, &FHandle);
                FHandle = 0;
            }
        }
    }
    for (TIBBase* b : FSQLObjects)
        b->FDatabase = nullptr;
    while (!FTransactions.isEmpty())
        FTransactions.first()->RemoveDatabase(this);
}

void TIBDatabase::CheckInactive() const
{
    if (FHandle)
        IBError(ibxeDatabaseOpen);
}

void TIBDatabase::CheckActive() const
{
    if (!Connected())
        IBError(ibxeDatabaseClosed);
}

bool TIBDatabase::Connected() const
{
    return FHandle != 0 && !FHandleHidden;
}

void TIBDatabase::SetDatabaseName(const QString& name)
{
    if (name == FDatabaseName)
        return;
    CheckInactive();
    FDatabaseName = name;
}

void TIBDatabase::SetParams(const QStringList& params)
{
    if (params == FParams)
        return;
    CheckInactive();
    FParams = params;
    FParamsChanged = true;
}

void TIBDatabase::SetSQLDialect(int dialect)
{
    if (dialect < 1 || (FHandle && dialect > FDBSQLDialect))
        IBError(ibxeSQLDialectInvalid);
    FSQLDialect = dialect;
}

void TIBDatabase::SetServerType(const QString& serverType)
{
    if (serverType == FServerType && (FLibrary || serverType.isEmpty()))
        return;
    if (FHandle)
        throw Exception(QStringLiteral("ServerType can not be changed on an active connection"));
    if (serverType.isEmpty()) {
        FServerType.clear();
        FLibrary = nullptr;
        return;
    }
    QString registered;
    IGDSLibrary* library = FindServerLibrary(serverType, &registered);
    if (!library)
        throw EDatabaseError(QStringLiteral("Server type %1 is not registered").arg(serverType));
    library->CheckLoaded();
    FLibrary = library;
    FServerType = registered;
}

IGDSLibrary& TIBDatabase::GDSLibrary()
{
    if (!FLibrary)
        SetServerType(QStringLiteral("IBServer"));
    return *FLibrary;
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* transaction)
{
    if (FDefaultTransaction == transaction)
        return;
    TIBTransaction* old = FDefaultTransaction;
    FDefaultTransaction = transaction;
    if (old && old->DefaultDatabase() != this)
        old->RemoveDatabase(this);
    if (transaction)
        transaction->AddDatabase(this);
}

void TIBDatabase::AddTransaction(TIBTransaction* transaction)
{
    if (!FTransactions.contains(transaction))
        FTransactions.append(transaction);
}

void TIBDatabase::RemoveTransaction(TIBTransaction* transaction)
{
    FTransactions.removeAll(transaction);
    if (FDefaultTransaction == transaction)
        FDefaultTransaction = nullptr;
}

QByteArray TIBDatabase::Encode(const QString& text) const
{
    if (FCodePage.isEmpty())
        return ToAnsi(text);
    QStringEncoder encoder(FCodePage.constData());
    return encoder.encode(text);
}

QString TIBDatabase::Decode(const QByteArray& bytes) const
{
    if (FCodePage.isEmpty())
        return FromAnsi(bytes);
    QStringDecoder decoder(FCodePage.constData());
    return decoder.decode(bytes);
}

void TIBDatabase::Check(TIBResult result, const TIBStatus& status)
{
    if (!result)
        return;
    IGDSLibrary& library = GDSLibrary();
    if (!status.ConnectionLost())
        status.Raise(library);
    // Compose before closing: the statements' clean-up runs inside the close.
    const EIBInterBaseError error(library.isc_sqlcode(status.Vector()), int(status.Code()), status.Message(library));
    ForceClose();
    throw error;
}

void TIBDatabase::ExecuteImmediate(TIBTransaction& transaction, const QByteArray& sql)
{
    TIBStatus status;
    Check(GDSLibrary().isc_dsql_execute_immediate(status, &FHandle, transaction.Handle(), 0, sql.constData(),
                                                  (unsigned short)FSQLDialect, nullptr),
          status);
}

bool TIBDatabase::HasBatch()
{
    return GDSLibrary().HasBatch();
}

void TIBDatabase::ExecuteBatch(TIBTransaction& transaction, const QList<QByteArray>& statements)
{
    if (!HasBatch()) {
        for (const QByteArray& sql : statements)
            ExecuteImmediate(transaction, sql);
        return;
    }
    // The call takes writable pointers; copies keep the caller's bytes as
    // they are.
    QList<QByteArray> copies = statements;
    std::vector<char*> texts;
    for (QByteArray& sql : copies)
        texts.push_back(sql.data());
    std::vector<ISC_LONG> results(texts.size());
    TIBStatus status;
    Check(GDSLibrary().BatchExecuteImmed(status, &FHandle, transaction.Handle(), (unsigned short)FSQLDialect,
                                         ISC_LONG(texts.size()), texts.data(), results.data()),
          status);
}

void TIBDatabase::ReadDialect()
{
    const char item = isc_info_db_sql_dialect;
    char buffer[512] = {};
    IGDSLibrary& library = GDSLibrary();
    TIBStatus status;
    Check(library.isc_database_info(status, &FHandle, 1, &item, sizeof buffer, buffer), status);
    if (buffer[0] != isc_info_db_sql_dialect) {
        FDBSQLDialect = 1;
    } else {
        const short length = short(library.isc_vax_integer(buffer + 1, 2));
        FDBSQLDialect = int(library.isc_vax_integer(buffer + 3, length));
    }
}

void TIBDatabase::Open()
{
    if (Connected())
        return;
    IGDSLibrary& library = GDSLibrary();
    CheckInactive();
    if (FDatabaseName.isEmpty())
        IBError(ibxeDatabaseNameMissing);
    if (FParamsChanged) {
        FCharacterSet = QStringLiteral("NONE");
        FDpb = BuildDpb(FParams);
        for (const QString& line : FParams)
            if (line.section(u'=', 0, 0).trimmed().compare(QLatin1String("lc_ctype"), Qt::CaseInsensitive) == 0)
                FCharacterSet = line.section(u'=', 1);
        FCodePage = CodePageOf(FCharacterSet);
        FParamsChanged = false;
    }
    const QByteArray name = ToAnsi(FDatabaseName);
    TIBStatus status;
    if (library.isc_attach_database(status, short(name.size()), name.constData(), &FHandle, short(FDpb.size()),
                                    FDpb.constData())) {
        FHandle = 0;
        status.Raise(library);
    }
    try {
        ReadDialect();
    } catch (...) {
        ForceClose();
        throw;
    }
    if (FDBSQLDialect < FSQLDialect) {
        FSQLDialect = FDBSQLDialect;
        if (OnDialectDowngradeWarning)
            OnDialectDowngradeWarning();
    }
}

void TIBDatabase::BeginDisconnect(bool force)
{
    Notify(FSQLObjects, &TIBBase::BeforeDatabaseDisconnect, force);
    for (TIBTransaction* t : QList<TIBTransaction*>(FTransactions))
        if (t->Active())
            t->EndTransaction(t->DefaultAction(), true);
}

void TIBDatabase::EndDisconnect(bool force, bool drop)
{
    IGDSLibrary& library = GDSLibrary();
    TIBStatus status;
    if (drop) {
        Check(library.isc_drop_database(status, &FHandle), status);
        FHandle = 0;
    } else if (library.isc_detach_database(status, &FHandle) && !force) {
        status.Raise(library);
    }
    FHandle = 0;
    FDBSQLDialect = 1;
    Notify(FSQLObjects, &TIBBase::AfterDatabaseDisconnect, force);
}

void TIBDatabase::Close()
{
    if (!Connected())
        return;
    try {
        BeginDisconnect(false);
        EndDisconnect(false, false);
    } catch (...) {
        ForceClose();
        FDBSQLDialect = 1;
        throw;
    }
}

void TIBDatabase::ForceClose()
{
    if (!FHandle)
        return;
    if (BeforeDisconnect)
        BeforeDisconnect();
    // The statements see the connection closed and make no client calls.
    {
        const TScopedFlag handleHidden(FHandleHidden);
        BeginDisconnect(true);
        EndDisconnect(true, false);
    }
    if (AfterDisconnect)
        AfterDisconnect();
}

void TIBDatabase::CreateDatabase()
{
    CheckInactive();
    IGDSLibrary& library = GDSLibrary();
    QString text = QStringLiteral("CREATE DATABASE '") + FDatabaseName + QStringLiteral("' ");
    for (const QString& line : FParams)
        text += line + QStringLiteral("\r\n");
    const QByteArray sql = ToAnsi(text);
    isc_tr_handle transaction = 0;
    TIBStatus status;
    if (library.isc_dsql_execute_immediate(status, &FHandle, &transaction, 0, sql.constData(),
                                           (unsigned short)FSQLDialect, nullptr)) {
        FHandle = 0;
        status.Raise(library);
    }
    // Attached without lc_ctype: character set NONE, the ANSI code page.
    FCharacterSet = QStringLiteral("NONE");
    FCodePage.clear();
    try {
        ReadDialect();
    } catch (...) {
        ForceClose();
        throw;
    }
}

void TIBDatabase::DropDatabase()
{
    CheckActive();
    BeginDisconnect(false);
    EndDisconnect(false, true);
}

// --------------------------------------------------------- TIBTransaction

TIBTransaction::TIBTransaction(QObject* owner) : QObject(owner) {}

TIBTransaction::~TIBTransaction()
{
    try {
        if (Active())
            EndTransaction(FDefaultAction, true);
    } catch (...) {
    }
    for (TIBBase* b : FSQLObjects)
        b->FTransaction = nullptr;
    while (!FDatabases.isEmpty())
        RemoveDatabase(FDatabases.first());
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database)
{
    if (FDefaultDatabase == database)
        return;
    TIBDatabase* old = FDefaultDatabase;
    FDefaultDatabase = database;
    if (old && old->DefaultTransaction() != this)
        RemoveDatabase(old);
    if (database)
        AddDatabase(database);
}

void TIBTransaction::AddDatabase(TIBDatabase* database)
{
    if (!database || FDatabases.contains(database))
        return;
    FDatabases.append(database);
    database->AddTransaction(this);
}

void TIBTransaction::RemoveDatabase(TIBDatabase* database)
{
    FDatabases.removeAll(database);
    if (FDefaultDatabase == database)
        FDefaultDatabase = nullptr;
    database->RemoveTransaction(this);
}

TIBDatabase* TIBTransaction::FirstDatabase() const
{
    if (FDefaultDatabase)
        return FDefaultDatabase;
    if (FDatabases.isEmpty())
        IBError(ibxeNoDatabasesInTransaction);
    return FDatabases.first();
}

void TIBTransaction::SetParams(const QStringList& params)
{
    if (params == FParams)
        return;
    if (Active())
        IBError(ibxeInTransaction);
    FParams = params;
    FParamsChanged = true;
}

void TIBTransaction::CheckInTransaction() const
{
    if (!Active())
        IBError(ibxeNotInTransaction);
}

void TIBTransaction::StartTransaction()
{
    if (Active())
        IBError(ibxeInTransaction);
    if (FDatabases.isEmpty())
        IBError(ibxeNoDatabasesInTransaction);
    for (TIBDatabase* d : FDatabases)
        if (!d->Connected())
            IBError(ibxeDatabaseClosed);
    if (FParamsChanged) {
        FTpb = BuildTpb(FParams);
        FParamsChanged = false;
    }
    std::vector<TISCTeb> teb;
    for (TIBDatabase* d : FDatabases)
        teb.push_back({d->Handle(), ISC_LONG(FTpb.size()), FTpb.isEmpty() ? nullptr : FTpb.constData()});
    TIBStatus status;
    const ISC_STATUS result = FirstDatabase()->GDSLibrary().isc_start_multiple(status, &FHandle, short(teb.size()),
                                                                              teb.data());
    if (result)
        FHandle = 0;
    FirstDatabase()->Check(result, status);
}

void TIBTransaction::Commit()
{
    EndTransaction(taCommit, false);
}

void TIBTransaction::Rollback()
{
    EndTransaction(taRollback, false);
}

void TIBTransaction::EndTransaction(TTransactionAction action, bool force)
{
    if (!force)
        CheckInTransaction();
    const bool commit = action == taCommit || action == taCommitRetaining;
    {
        const TScopedFlag stopSuspended(FStopSuspended);
        Notify(FSQLObjects, &TIBBase::BeforeTransactionEnd, force);
    }
    IGDSLibrary& library = FirstDatabase()->GDSLibrary();
    TIBStatus status;
    const ISC_STATUS result = commit ? library.isc_commit_transaction(status, &FHandle)
                                     : library.isc_rollback_transaction(status, &FHandle);
    if (result && !force)
        FirstDatabase()->Check(result, status);
    if (result && commit) {
        TIBStatus rollback; // the forced end ignores its outcome
        library.isc_rollback_transaction(rollback, &FHandle);
    }
    FHandle = 0;
    FAutoStarted = false;
    Notify(FSQLObjects, &TIBBase::AfterTransactionEnd, force);
}

void TIBTransaction::CommitRetaining()
{
    CheckInTransaction();
    TIBStatus status;
    FirstDatabase()->Check(FirstDatabase()->GDSLibrary().isc_commit_retaining(status, &FHandle), status);
}

void TIBTransaction::RollbackRetaining()
{
    CheckInTransaction();
    TIBStatus status;
    FirstDatabase()->Check(FirstDatabase()->GDSLibrary().RollbackRetaining(status, &FHandle), status);
}

void TIBTransaction::Savepoint(const char* sqlVerb, int operation, const QString& name)
{
    CheckInTransaction();
    TIBDatabase* database = FirstDatabase();
    IGDSLibrary& library = database->GDSLibrary();
    // The outcome is not raised: the status is only where the calls want it.
    TIBStatus status;
    if (library.HasSavepoints()) {
        const QByteArray bytes = ToAnsi(name);
        switch (operation) {
        case 0: library.StartSavepoint(status, &FHandle, bytes.constData()); break;
        case 1: library.ReleaseSavepoint(status, &FHandle, bytes.constData()); break;
        default: library.RollbackSavepoint(status, &FHandle, bytes.constData(), 0); break;
        }
        return;
    }
    // A client without the savepoint calls gets the same effect in SQL.
    if (!database->Connected())
        return;
    const QByteArray sql = database->Encode(QLatin1String(sqlVerb) + name);
    library.isc_dsql_execute_immediate(status, database->Handle(), &FHandle, 0, sql.constData(),
                                       (unsigned short)database->SQLDialect(), nullptr);
}

void TIBTransaction::StartSavepoint(const QString& name)
{
    Savepoint("SAVEPOINT ", 0, name);
}

void TIBTransaction::ReleaseSavepoint(const QString& name)
{
    Savepoint("RELEASE SAVEPOINT ", 1, name);
}

void TIBTransaction::RollbackSavepoint(const QString& name)
{
    Savepoint("ROLLBACK TO SAVEPOINT ", 2, name);
}

void TIBTransaction::AutoStartTransaction()
{
    if (!Active() && FAllowAutoStart) {
        StartTransaction();
        FAutoStarted = true;
    }
}

void TIBTransaction::CheckAutoStop()
{
    if (FAutoStopAction == saNone || !FAutoStarted || FStopSuspended || !Active())
        return;
    for (TIBBase* b : FSQLObjects)
        if (b->DatasetActive && b->DatasetActive())
            return;
    switch (FAutoStopAction) {
    case saRollback: Rollback(); break;
    case saCommit: Commit(); break;
    case saRollbackRetaining: RollbackRetaining(); break;
    case saCommitRetaining: CommitRetaining(); break;
    case saNone: break;
    }
}
