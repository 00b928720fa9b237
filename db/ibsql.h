// The bare InterBase statement: prepare, execute, fetch, close, free.
#pragma once

#include "db/ibdatabase.h"

#include <QStringList>
#include <QVariant>
#include <memory>

// Statement types the server reports.
enum TIBSQLTypes {
    SQLUnknown, SQLSelect, SQLInsert, SQLUpdate, SQLDelete, SQLDDL, SQLGetSegment, SQLPutSegment,
    SQLExecProcedure, SQLStartTransaction, SQLCommit, SQLRollback, SQLSelectForUpdate, SQLSetGenerator,
    SQLSavePoint
};

// The area in the client library's layout and the buffers its columns
// point into; defined where the library's own code reads it (db/ibsql.cpp).
struct TIBSQLDAStorage;
// The client library's blob id (ISC_QUAD).
struct GDS_QUAD_t;

// An extended SQL descriptor area with its data buffers and, for output
// columns, unique names.
class TIBXSQLDA {
public:
    TIBXSQLDA();
    ~TIBXSQLDA();
    TIBXSQLDA(const TIBXSQLDA&) = delete;
    TIBXSQLDA& operator=(const TIBXSQLDA&) = delete;

    int Count() const { return FCount; }
    // Grows the area when needed, never shrinks it.
    void SetCount(int count);
    // Data buffers and null indicators after a description.
    void SetupBuffers();
    QString Name(int i) const { return FNames[i]; }
    void SetNames(const QStringList& names) { FNames = names; }
    bool IsNull(int i) const;
    // For the access through the client library's types (db/ibclient.h).
    TIBSQLDAStorage& Storage() { return *FStorage; }
    const TIBSQLDAStorage& Storage() const { return *FStorage; }

private:
    std::unique_ptr<TIBSQLDAStorage> FStorage;
    int FCount = 0;
    QStringList FNames;
};

class TIBSQL : public QObject {
    Q_OBJECT
public:
    explicit TIBSQL(QObject* owner = nullptr);
    ~TIBSQL() override;

    TIBDatabase* Database() const { return FBase.Database(); }
    void SetDatabase(TIBDatabase* database) { FBase.SetDatabase(database); }
    TIBTransaction* Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TIBTransaction* transaction) { FBase.SetTransaction(transaction); }

    const QStringList& SQL() const { return FSQL; }
    void SetSQL(const QStringList& lines);
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool value) { FParamCheck = value; }
    bool GenerateParamNames() const { return FGenerateParamNames; }
    void SetGenerateParamNames(bool value) { FGenerateParamNames = value; }
    bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
    void SetGoToFirstRecordOnExecute(bool value) { FGoToFirstRecordOnExecute = value; }

    void Prepare();
    void ExecQuery();
    // Fetches the next row; false at the end.
    bool Next();
    void Close();
    void FreeHandle();
    void Unprepare() { FreeHandle(); }

    bool Prepared() const { return FPrepared; }
    bool Open() const { return FOpen; }
    bool Eof() const { return FEOF || !FOpen; }
    bool Bof() const { return FBOF; }
    int RecordCount() const { return FRecordCount; }
    int SQLType() const { return FSQLType; }
    QString ProcessedSQL() const { return FProcessedSQL; }
    TIBHandle* Handle() { return &FHandle; }

    TIBXSQLDA& Params() { return FInput; }
    TIBXSQLDA& Current() { return FOutput; }
    int FieldCount() const { return FOutput.Count(); }
    QString FieldName(int i) const { return FOutput.Name(i); }
    // The current row's value of a column: text, integer, double (also the
    // date types, as days since 1899-12-30), bool or blob bytes; null as an
    // invalid variant.
    QVariant FieldValue(int i);

private:
    void CheckStatus(TIBResult result, const TIBStatus& status);
    TIBDatabase* ErrorDatabase() const;
    void DescribeOutput();
    void AssignOutputNames();
    QByteArray ReadBlob(const GDS_QUAD_t& id);

    TIBBase FBase;
    QStringList FSQL;
    bool FParamCheck = true;
    bool FGenerateParamNames = false;
    bool FGoToFirstRecordOnExecute = true;
    QString FProcessedSQL;
    TIBHandle FHandle = 0;
    bool FPrepared = false;
    int FSQLType = SQLUnknown;
    bool FOpen = false;
    bool FBOF = false;
    bool FEOF = false;
    int FRecordCount = 0;
    TIBXSQLDA FInput;
    TIBXSQLDA FOutput;
};

// The parameter marker scan: markers become "?", their names are returned
// in order. Raises client error 55 on an unterminated string or comment and
// a marker without a name (unless names are generated).
QString PreprocessSQL(const QString& text, bool generateParamNames, QStringList& names);
