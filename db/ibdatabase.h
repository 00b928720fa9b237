// The InterBase connection, its transactions, and the link through which
// statement objects register with both.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <cstdint>
#include <functional>

class IGDSLibrary;
class TIBStatus;
class TIBDatabase;
class TIBTransaction;

// The client library's handle of a connection, transaction or statement,
// and the result of one of its calls (0 on success). Its header stays
// inside this library; db/ibdatabase.cpp asserts that the types match.
using TIBHandle = unsigned int;
using TIBResult = std::intptr_t;

// Builds the connection parameter block from "name=value" lines.
QByteArray BuildDpb(const QStringList& params);
// Builds the transaction parameter block; empty for no lines.
QByteArray BuildTpb(const QStringList& params);

// A statement object's registration with its connection and transaction,
// and the four callbacks through which they tell it what happens.
class TIBBase {
public:
    TIBBase() = default;
    ~TIBBase();
    TIBBase(const TIBBase&) = delete;
    TIBBase& operator=(const TIBBase&) = delete;

    TIBDatabase* Database() const { return FDatabase; }
    TIBTransaction* Transaction() const { return FTransaction; }
    // Each fills in the other side when it is still empty.
    void SetDatabase(TIBDatabase* database);
    void SetTransaction(TIBTransaction* transaction);

    void CheckDatabase() const;    // client error 24
    void CheckTransaction() const; // client error 25
    TIBHandle* DBHandle() const;
    TIBHandle* TRHandle() const;

    std::function<void()> BeforeDatabaseDisconnect;
    std::function<void()> AfterDatabaseDisconnect;
    std::function<void()> BeforeTransactionEnd;
    std::function<void()> AfterTransactionEnd;
    // A dataset answers whether it is open, for the automatic stop.
    std::function<bool()> DatasetActive;

private:
    friend class TIBDatabase;
    friend class TIBTransaction;
    TIBDatabase* FDatabase = nullptr;
    TIBTransaction* FTransaction = nullptr;
};

class TIBDatabase : public QObject {
    Q_OBJECT
public:
    explicit TIBDatabase(QObject* owner = nullptr);
    ~TIBDatabase() override;

    QString DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString& name);
    const QStringList& Params() const { return FParams; }
    void SetParams(const QStringList& params);
    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool value) { FLoginPrompt = value; }
    int SQLDialect() const { return FSQLDialect; }
    void SetSQLDialect(int dialect);
    int DBSQLDialect() const { return FDBSQLDialect; }
    QString ServerType() const { return FServerType; }
    void SetServerType(const QString& serverType);
    TIBTransaction* DefaultTransaction() const { return FDefaultTransaction; }
    void SetDefaultTransaction(TIBTransaction* transaction);
    QString CharacterSet() const { return FCharacterSet; }

    bool Connected() const;
    void SetConnected(bool value) { value ? Open() : Close(); }
    void Open();
    void Close();
    // Closes without raising and without client calls from the statements.
    void ForceClose();
    void CreateDatabase();
    void DropDatabase();

    TIBHandle* Handle() { return &FHandle; }
    IGDSLibrary& GDSLibrary();
    QByteArray Dpb() const { return FDpb; }

    // Text to and from the library in the code page of the connection's
    // character set (lc_ctype): UTF8, WIN1252, ISO8859_1; NONE and the rest
    // in the ANSI code page.
    QByteArray Encode(const QString& text) const;
    QString Decode(const QByteArray& bytes) const;

    // The one check of a client call made on this connection's behalf, also
    // by its transactions and statements: a failure is raised, and when the
    // connection was lost it is closed by force first.
    void Check(TIBResult result, const TIBStatus& status);

    // Statements executed without preparing, in the transaction; a failure
    // is raised. The batch sends them in one call when the client library
    // has one (HasBatch), else one by one, up to the first failure.
    void ExecuteImmediate(TIBTransaction& transaction, const QByteArray& sql);
    bool HasBatch();
    void ExecuteBatch(TIBTransaction& transaction, const QList<QByteArray>& statements);

    std::function<void()> OnDialectDowngradeWarning;
    std::function<void()> BeforeDisconnect;
    std::function<void()> AfterDisconnect;

private:
    friend class TIBTransaction;
    friend class TIBBase;
    void CheckInactive() const;
    void CheckActive() const;
    void ReadDialect();
    void BeginDisconnect(bool force);
    void EndDisconnect(bool force, bool drop);
    void AddTransaction(TIBTransaction* transaction);
    void RemoveTransaction(TIBTransaction* transaction);

    QString FDatabaseName;
    QStringList FParams;
    bool FParamsChanged = true;
    bool FLoginPrompt = true;
    int FSQLDialect = 3;
    int FDBSQLDialect = 3;
    QString FServerType;
    IGDSLibrary* FLibrary = nullptr;
    TIBTransaction* FDefaultTransaction = nullptr;
    QString FCharacterSet = QStringLiteral("NONE");
    QByteArray FCodePage; // of the character set; empty for the ANSI code page
    QByteArray FDpb;
    TIBHandle FHandle = 0;
    bool FHandleHidden = false;
    QList<TIBTransaction*> FTransactions;
    QList<TIBBase*> FSQLObjects;
};

enum TTransactionAction { taRollback, taCommit, taRollbackRetaining, taCommitRetaining };
enum TAutoStopAction { saNone, saRollback, saCommit, saRollbackRetaining, saCommitRetaining };

class TIBTransaction : public QObject {
    Q_OBJECT
public:
    explicit TIBTransaction(QObject* owner = nullptr);
    ~TIBTransaction() override;

    TIBDatabase* DefaultDatabase() const { return FDefaultDatabase; }
    void SetDefaultDatabase(TIBDatabase* database);
    void AddDatabase(TIBDatabase* database);
    void RemoveDatabase(TIBDatabase* database);
    int DatabaseCount() const { return FDatabases.size(); }
    TIBDatabase* Databases(int index) const { return FDatabases[index]; }

    const QStringList& Params() const { return FParams; }
    void SetParams(const QStringList& params);
    TTransactionAction DefaultAction() const { return FDefaultAction; }
    void SetDefaultAction(TTransactionAction action) { FDefaultAction = action; }
    bool AllowAutoStart() const { return FAllowAutoStart; }
    void SetAllowAutoStart(bool value) { FAllowAutoStart = value; }
    TAutoStopAction AutoStopAction() const { return FAutoStopAction; }
    void SetAutoStopAction(TAutoStopAction action) { FAutoStopAction = action; }

    bool Active() const { return FHandle != 0; }
    TIBHandle* Handle() { return &FHandle; }
    QByteArray Tpb() const { return FTpb; }

    void StartTransaction();
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();
    // Failures of the savepoint operations are not raised.
    void StartSavepoint(const QString& name);
    void ReleaseSavepoint(const QString& name);
    void RollbackSavepoint(const QString& name);

    // For datasets: start when inactive and allowed; end when auto-started
    // and no dataset is open any more.
    void AutoStartTransaction();
    void CheckAutoStop();

    // The connection that reports its errors and loses its connection.
    TIBDatabase* FirstDatabase() const;

private:
    friend class TIBDatabase;
    friend class TIBBase;
    void CheckInTransaction() const;
    void EndTransaction(TTransactionAction action, bool force);
    void Savepoint(const char* sqlVerb, int operation, const QString& name);

    TIBDatabase* FDefaultDatabase = nullptr;
    QList<TIBDatabase*> FDatabases;
    QStringList FParams;
    bool FParamsChanged = true;
    QByteArray FTpb;
    TTransactionAction FDefaultAction = taCommit;
    bool FAllowAutoStart = true;
    TAutoStopAction FAutoStopAction = saNone;
    bool FAutoStarted = false;
    bool FStopSuspended = false;
    TIBHandle FHandle = 0;
    QList<TIBBase*> FSQLObjects;
};
