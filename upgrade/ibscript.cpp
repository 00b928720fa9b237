#include "upgrade/ibscript.h"

#include "db/iberror.h"
#include "db/ibsql.h"
#include "platform/errors.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

const QString NoSavepoint = QStringLiteral("no_savepoint");

} // namespace

// 'it''s' gives it's; other operands, double-quoted ones too, stay as written.
QString DequoteOperand(const QString& operand)
{
    if (operand.size() < 2 || operand.front() != u'\'' || operand.back() != u'\'')
        return operand;
    QString out;
    const QStringView inner = QStringView(operand).sliced(1, operand.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] != u'\'')
            out += inner[i];
        else if (i + 1 < inner.size() && inner[i + 1] == u'\'')
            out += inner[i++];
    }
    return out;
}

QString SavepointNameOf(const QStringList& words)
{
    if (words.size() == 4 && SameText(words[1], "TO") && SameText(words[2], "SAVEPOINT"))
        return words[3];
    if (words.size() == 5 && SameText(words[2], "TO") && SameText(words[3], "SAVEPOINT"))
        return words[4];
    return QString();
}

TIBScript::TIBScript()
    : FDDLTransaction(std::make_unique<TIBTransaction>()), FDDLQuery(std::make_unique<TIBSQL>())
{
    FSQLParser.SetOnParse([this](TIBParseKind kind, const QString& text) { HandleStatement(kind, text); });
    FSQLParser.SetOnError(
        [this](const QString& error, const QString& text, int lineIndex) { HandleParseError(error, text, lineIndex); });
    SetTerminator(QStringLiteral(";"));
    FDDLQuery->SetParamCheck(false);
}

TIBScript::~TIBScript()
{
    FDMLQuery.reset();
    FDDLQuery.reset();
    FDDLTransaction.reset();
    FOwnDatabase.reset();
    FOwnTransaction.reset();
}

void TIBScript::SetDatabase(TIBDatabase* database)
{
    if (FDatabase == database)
        return;
    FDatabase = database;
    FDDLQuery->SetDatabase(database);
    FDDLTransaction->SetDefaultDatabase(database);
    if (database && !FTransaction && database->DefaultTransaction())
        SetTransaction(database->DefaultTransaction());
    if (FExecuting)
        FDMLQuery->SetDatabase(database);
}

void TIBScript::SetTransaction(TIBTransaction* transaction)
{
    FTransaction = transaction;
    if (FExecuting)
        FDMLQuery->SetTransaction(transaction);
    if (transaction && !FDatabase && transaction->DefaultDatabase())
        SetDatabase(transaction->DefaultDatabase());
}

void TIBScript::SetTerminator(const QString& terminator)
{
    FTerminator = terminator;
    FSQLParser.SetTerminator(terminator);
}

void TIBScript::BeginRun()
{
    FExecuting = true;
    FDMLQuery = std::make_unique<TIBSQL>();
    FDMLQuery->SetDatabase(FDatabase);
    if (FTransaction)
        FDMLQuery->SetTransaction(FTransaction);
}

void TIBScript::EndRun()
{
    FExecuting = false;
    FDMLQuery.reset();
    // A batch left open never runs.
    InBatch = false;
    FBatchBuffer.clear();
}

void TIBScript::RunParser(const std::function<void()>& body)
{
    {
        const TScopedFlag running(FRunning);
        try {
            body();
        } catch (...) {
            FParamCheckPending = false;
            EndRun();
            throw;
        }
    }
    // A statement held back by OnParamCheck needs the run's statement object.
    if (!FParamCheckPending)
        EndRun();
}

void TIBScript::ExecuteScript()
{
    FContinue = true;
    FCharSet.clear();
    InBatch = false;
    FBatchBuffer.clear();
    FParamCheckPending = false;
    BeginRun();
    RunParser([this] { FSQLParser.Parse(); });
}

void TIBScript::SetPaused(bool paused)
{
    if (paused || !FSQLParser.Paused()) {
        FSQLParser.SetPaused(paused);
        return;
    }
    const auto resume = [this] {
        bool goOn = true;
        if (FParamCheckPending) {
            FParamCheckPending = false;
            goOn = Guarded(FPendingText, [this] {
                // The caller may have ended the transaction while paused.
                if (!FDMLQuery->Transaction()->Active())
                    FDMLQuery->Transaction()->StartTransaction();
                FDMLQuery->ExecQuery();
                if (FOnParse)
                    FOnParse(stmtDML, FPendingText);
            });
        }
        if (goOn)
            FSQLParser.SetPaused(false);
    };
    if (FRunning) {
        resume();
        return;
    }
    if (!FExecuting)
        BeginRun();
    RunParser(resume);
}

bool TIBScript::Guarded(const QString& text, const std::function<void()>& body)
{
    try {
        body();
        return true;
    } catch (const EIBError& e) {
        FContinue = false;
        if (!FOnExecuteError)
            throw;
        bool ignore = false;
        FOnExecuteError(e.Message(), text, FSQLParser.LineIndex(), ignore);
        if (!ignore) {
            FSQLParser.SetPaused(true);
            return false;
        }
        FContinue = true;
        return true;
    }
}

void TIBScript::HandleStatement(TIBParseKind kind, const QString& text)
{
    FCurrentStmt = kind;
    Guarded(text, [&] {
        DoStatement(kind, text);
        if (FOnParse && !FParamCheckPending)
            FOnParse(kind, text);
    });
}

void TIBScript::DoStatement(TIBParseKind kind, const QString& text)
{
    if (InBatch) {
        switch (kind) {
        case stmtDDL:
        case stmtDML:
            FBatchBuffer.append(RequireDatabase().Encode(text));
            return;
        case stmtTERM:
            FTerminator = text.trimmed();
            return;
        case stmtBatchExecute:
            ExecuteBatch();
            return;
        default:
            throw EIBError(-1, 0, QStringLiteral("Only DDL and DML (excluding Select statements) allowed within a Batch block"));
        }
    }
    switch (kind) {
    case stmtDDL: RunDDL(text); break;
    case stmtDML: RunDML(text); break;
    case stmtSET: ApplySetting(); break;
    case stmtCONNECT: ConnectTo(); break;
    case stmtDrop: RequireDatabase().DropDatabase(); break;
    case stmtCREATE: CreateNewDatabase(); break;
    case stmtTERM: FTerminator = text.trimmed(); break;
    case stmtCOMMIT: EndTransactions(&TIBTransaction::Commit); break;
    case stmtROLLBACK: EndTransactions(&TIBTransaction::Rollback); break;
    case stmtCOMMITRetaining: EndTransactions(&TIBTransaction::CommitRetaining); break;
    case stmtROLLBACKRetaining: EndTransactions(&TIBTransaction::RollbackRetaining); break;
    case stmtReconnect:
        if (FDatabase) {
            FDatabase->Close();
            FDatabase->Open();
        }
        break;
    case stmtStartSavepoint: RequireTransaction().StartSavepoint(Word(2)); break;
    case stmtReleaseSavePoint: RequireTransaction().ReleaseSavepoint(Word(3)); break;
    case stmtRollbackSavePoint: RequireTransaction().RollbackSavepoint(SavepointNameOf(FSQLParser.Tokens())); break;
    case stmtBatchStart:
        InBatch = true;
        FBatchBuffer.clear();
        break;
    case stmtServerSET: RunServerSet(text); break;
    default: break;
    }
}

void TIBScript::HandleParseError(const QString& error, const QString& sqlText, int lineIndex)
{
    if (FOnError)
        FOnError(error, sqlText, lineIndex);
    FSQLParser.SetPaused(true);
}

TIBDatabase& TIBScript::RequireDatabase() const
{
    if (!FDatabase)
        IBError(ibxeDatabaseNotAssigned);
    return *FDatabase;
}

TIBTransaction& TIBScript::RequireTransaction() const
{
    if (!FTransaction)
        IBError(ibxeTransactionNotAssigned);
    return *FTransaction;
}

QString TIBScript::Word(int index) const
{
    return FSQLParser.Tokens().value(index - 1);
}

void TIBScript::EndTransactions(void (TIBTransaction::*end)())
{
    if (FTransaction && FTransaction->Active())
        (FTransaction->*end)();
    if (FDDLTransaction->Active())
        (FDDLTransaction.get()->*end)();
}

void TIBScript::ExecuteBatch()
{
    const auto release = [this] {
        FBatchBuffer.clear();
        InBatch = false;
    };
    try {
        TIBDatabase& database = RequireDatabase();
        TIBTransaction& transaction = RequireTransaction();
        if (!transaction.Active())
            transaction.StartTransaction();
        database.ExecuteBatch(transaction, FBatchBuffer);
    } catch (...) {
        release();
        throw;
    }
    release();
}

void TIBScript::RunDDL(const QString& text)
{
    TIBTransaction& transaction = FAutoDDL ? *FDDLTransaction : RequireTransaction();
    FDDLQuery->SetTransaction(&transaction);
    try {
        if (!transaction.Active())
            transaction.StartTransaction();
        FDDLQuery->SetSQL({text});
        FDDLQuery->ExecQuery();
        if (FAutoDDL)
            FDDLTransaction->Commit();
    } catch (...) {
        // The statement's own error is the one to report.
        if (FAutoDDL && FDDLTransaction->Active()) {
            try {
                FDDLTransaction->Rollback();
            } catch (const Exception&) {
            }
        }
        throw;
    }
}

void TIBScript::PrepareDML(const QString& text)
{
    if (FDMLQuery->Open())
        FDMLQuery->Close();
    FDMLQuery->SetSQL({text});
    if (!FDMLQuery->Transaction())
        IBError(ibxeTransactionNotAssigned);
    if (!FDMLQuery->Transaction()->Active())
        FDMLQuery->Transaction()->StartTransaction();
}

void TIBScript::RunDML(const QString& text)
{
    PrepareDML(text);
    FDMLQuery->Prepare();
    if (FDMLQuery->Params().Count() > 0 && FOnParamCheck) {
        bool pause = false;
        FOnParamCheck(pause);
        if (pause) {
            FParamCheckPending = true;
            FPendingText = text;
            FSQLParser.SetPaused(true);
            return;
        }
    }
    // No parameter values are filled in: markers go to the server as null.
    FDMLQuery->ExecQuery();
}

void TIBScript::RunServerSet(const QString& text)
{
    PrepareDML(text);
    FDMLQuery->ExecQuery();
}

void TIBScript::ApplySetting()
{
    const QString setting = Word(2);
    const QString value = Word(3);
    if (SameText(setting, "AUTODDL")) {
        FAutoDDL = value == u"ON";
    } else if (SameText(setting, "STATISTICS")) {
        // accepted, no effect on execution
    } else if (SameText(setting, "SQL") && SameText(value, "DIALECT")) {
        bool ok = false;
        const int dialect = Word(4).toInt(&ok);
        if (!ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(Word(4)));
        FSQLDialect = dialect;
        if (FDatabase && FDatabase->SQLDialect() != dialect) {
            if (FDatabase->Connected()) {
                FDatabase->Close();
                FDatabase->SetSQLDialect(dialect);
                FDatabase->Open();
            } else {
                FDatabase->SetSQLDialect(dialect);
            }
        }
    } else if (SameText(setting, "NAMES")) {
        FCharSet = value;
    } else if (SameText(setting, "SAVEPOINTS") && FTransaction) {
        QStringList params = FTransaction->Params();
        if (value == u"OFF") {
            if (!params.contains(NoSavepoint))
                params << NoSavepoint;
        } else {
            params.removeAll(NoSavepoint);
        }
        FTransaction->SetParams(params);
    }
}

void TIBScript::ConnectTo()
{
    if (!FDatabase || FDatabase != FOwnDatabase.get())
        TakeOwnConnection();
    if (FDatabase->Connected())
        FDatabase->Close();
    FDatabase->SetSQLDialect(FSQLDialect);
    FDatabase->SetParams({});
    // The name keeps its letter case even when the terminator follows it.
    FDatabase->SetDatabaseName(DequoteOperand(FSQLParser.TokenAsWritten(1)));
    QStringList params;
    const int count = int(FSQLParser.Tokens().size());
    for (int i = 3; i < count; i += 2) {
        const QString option = Word(i);
        QString name;
        if (SameText(option, "USER"))
            name = QStringLiteral("user_name");
        else if (SameText(option, "PASSWORD"))
            name = QStringLiteral("password");
        else if (SameText(option, "ROLE"))
            name = QStringLiteral("sql_role_name"); // the parameter block's name for the role
        else
            IBError(ibxeDPBConstantUnknown, {option});
        params << name + u'=' + DequoteOperand(Word(i + 1));
    }
    if (!FCharSet.isEmpty())
        params << QStringLiteral("lc_ctype=") + FCharSet;
    FDatabase->SetParams(params);
    FDatabase->Open();
}

void TIBScript::CreateNewDatabase()
{
    TakeOwnConnection();
    FDatabase->SetDatabaseName(DequoteOperand(FSQLParser.TokenAsWritten(2)));
    QStringList params;
    const int count = int(FSQLParser.Tokens().size());
    // Options go in pairs; an odd last word is kept, not dropped.
    for (int i = 4; i <= count; i += 2)
        params << (i < count ? Word(i) + u' ' + Word(i + 1) : Word(i));
    FDatabase->SetParams(params);
    FDatabase->SetSQLDialect(FSQLDialect);
    FDatabase->CreateDatabase();
}

void TIBScript::TakeOwnConnection()
{
    std::unique_ptr<TIBDatabase> oldDatabase;
    if (FDatabase) {
        FDDLTransaction->RemoveDatabase(FDatabase);
        if (FDatabase == FOwnDatabase.get())
            oldDatabase = std::move(FOwnDatabase);
    }
    std::unique_ptr<TIBTransaction> oldTransaction;
    if (FTransaction && FTransaction == FOwnTransaction.get())
        oldTransaction = std::move(FOwnTransaction);

    FOwnDatabase = std::make_unique<TIBDatabase>();
    FOwnDatabase->SetLoginPrompt(false);
    FOwnTransaction = std::make_unique<TIBTransaction>();
    FOwnTransaction->SetDefaultDatabase(FOwnDatabase.get());
    FOwnDatabase->SetDefaultTransaction(FOwnTransaction.get());
    FTransaction = nullptr;
    FDatabase = nullptr;
    SetDatabase(FOwnDatabase.get()); // takes the new default transaction too
    SetTransaction(FOwnTransaction.get());

    // The old connection ends its transactions as on closing.
    oldDatabase.reset();
    oldTransaction.reset();
}
