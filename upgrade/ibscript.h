// The script runner: executes the statements of an upgrade script on an
// InterBase database, each in the transaction its kind calls for.
#pragma once

#include "db/ibdatabase.h"
#include "upgrade/ibsqlparser.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <memory>

class TIBSQL;

// Error, statement text and line of a failed statement; setting ignore goes
// on with the next statement.
using TIBSQLExecuteError =
    std::function<void(const QString& error, const QString& sqlText, int lineIndex, bool& ignore)>;
// Asked before a data statement with parameters runs; setting pause stops
// the run before it (resume with SetPaused(false)).
using TIBScriptParamCheck = std::function<void(bool& pause)>;

class TIBScript {
public:
    TIBScript();
    ~TIBScript();
    TIBScript(const TIBScript&) = delete;
    TIBScript& operator=(const TIBScript&) = delete;

    bool AutoDDL() const { return FAutoDDL; }
    void SetAutoDDL(bool value) { FAutoDDL = value; }
    TIBDatabase* Database() const { return FDatabase; }
    void SetDatabase(TIBDatabase* database);
    TIBTransaction* Transaction() const { return FTransaction; }
    void SetTransaction(TIBTransaction* transaction);
    const QString& Terminator() const { return FTerminator; }
    void SetTerminator(const QString& terminator);
    int SQLDialect() const { return FSQLDialect; }

    // The splitter's lines. Assigning them resets nothing else; pending text
    // and the terminator carry over from the previous run.
    QStringList& Script() { return FSQLParser.Lines(); }
    void SetScript(const QStringList& lines) { FSQLParser.Lines() = lines; }

    // Returns when the script ran to its end or was stopped by a parse error
    // or a callback; raises when a statement fails and no OnExecuteError is
    // attached.
    void ExecuteScript();

    // Stops before the next statement; clearing it runs a data statement held
    // back by OnParamCheck, then goes on with the script.
    bool Paused() const { return FSQLParser.Paused(); }
    void SetPaused(bool paused);

    void SetOnParse(TIBSQLParseStmt handler) { FOnParse = std::move(handler); }
    void SetOnParseError(TIBSQLParseError handler) { FOnError = std::move(handler); }
    void SetOnExecuteError(TIBSQLExecuteError handler) { FOnExecuteError = std::move(handler); }
    void SetOnParamCheck(TIBScriptParamCheck handler) { FOnParamCheck = std::move(handler); }

    // The definition transaction, for callers that inspect it.
    TIBTransaction& DDLTransaction() { return *FDDLTransaction; }

private:
    void BeginRun();
    void EndRun();
    void RunParser(const std::function<void()>& body);
    // Runs one statement's work; an EIBError goes to OnExecuteError when
    // attached. False when the run is to stop.
    bool Guarded(const QString& text, const std::function<void()>& body);
    void HandleStatement(TIBParseKind kind, const QString& text);
    void DoStatement(TIBParseKind kind, const QString& text);
    void HandleParseError(const QString& error, const QString& sqlText, int lineIndex);
    void ExecuteBatch();
    void RunDDL(const QString& text);
    void PrepareDML(const QString& text);
    void RunDML(const QString& text);
    void RunServerSet(const QString& text);
    void ApplySetting();
    void ConnectTo();
    void CreateNewDatabase();
    void TakeOwnConnection();
    void EndTransactions(void (TIBTransaction::*end)());
    TIBDatabase& RequireDatabase() const;       // client error 24
    TIBTransaction& RequireTransaction() const; // client error 25
    QString Word(int index) const;              // 1-based, empty beyond the last

    TIBSQLParser FSQLParser;
    bool FAutoDDL = true;
    QPointer<TIBDatabase> FDatabase;
    TIBSQLParseError FOnError;
    TIBSQLParseStmt FOnParse;
    std::unique_ptr<TIBTransaction> FDDLTransaction;
    QPointer<TIBTransaction> FTransaction;
    QString FTerminator;
    std::unique_ptr<TIBSQL> FDDLQuery;
    // Owned by the runner rather than by the connection: CONNECT and CREATE
    // DATABASE replace the connection in the middle of a run.
    std::unique_ptr<TIBSQL> FDMLQuery;
    bool FContinue = false;
    TIBSQLExecuteError FOnExecuteError;
    TIBScriptParamCheck FOnParamCheck;
    int FSQLDialect = 3;
    QString FCharSet;
    TIBParseKind FCurrentStmt = stmtEMPTY;
    bool FExecuting = false;
    bool InBatch = false;
    QList<QByteArray> FBatchBuffer; // each in the connection's encoding

    // Connection and transaction that CONNECT or CREATE DATABASE made; the
    // caller's own are never destroyed here.
    std::unique_ptr<TIBDatabase> FOwnDatabase;
    std::unique_ptr<TIBTransaction> FOwnTransaction;
    bool FParamCheckPending = false; // a data statement held back by OnParamCheck
    QString FPendingText;
    bool FRunning = false; // ExecuteScript or a resumption is on the stack
};

// A single-quoted operand without its quotes, doubled quotes made single;
// anything else as written.
QString DequoteOperand(const QString& operand);
// The name in ROLLBACK [WORK] TO SAVEPOINT name; empty otherwise.
QString SavepointNameOf(const QStringList& words);
