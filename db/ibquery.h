// The InterBase query dataset: one select statement, its rows kept in
// memory, its columns as fields; starts its transaction on demand.
#pragma once

#include "db/fields.h"
#include "db/ibsql.h"

#include <QVector>

class TIBQuery : public QObject {
    Q_OBJECT
public:
    explicit TIBQuery(QObject* owner = nullptr);
    ~TIBQuery() override;

    TIBDatabase* Database() const { return FBase.Database(); }
    void SetDatabase(TIBDatabase* database);
    TIBTransaction* Transaction() const { return FBase.Transaction(); }
    void SetTransaction(TIBTransaction* transaction);

    // Every change closes and unprepares the query.
    const QStringList& SQL() const { return FSQL; }
    void SetSQL(const QStringList& lines);
    void SQLClear() { SetSQL({}); }
    void SQLAdd(const QString& line) { SetSQL(FSQL + QStringList{line}); }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool value) { FParamCheck = value; }
    const QStringList& Params() const { return FParamNames; }
    int BufferChunks() const { return FBufferChunks; }
    void SetBufferChunks(int rows) { FBufferChunks = rows > 0 ? rows : 1; }

    void Open();
    void Close();
    bool Active() const { return FActive; }
    bool Prepared() const { return FPrepared; }
    void ExecSQL();
    void Next();
    bool Eof() const { return !FActive || FEof; }
    int RecordCount() const { return int(FRows.size()); }

    TFields& Fields() { return FFields; }
    TField& FieldByName(const QString& name) const { return FFields.FieldByName(name, objectName()); }
    TIBSQL& QSelect() { return FQSelect; }

private:
    void Connect(bool& startedTransaction);
    void PrepareQuery();
    void FetchRow();
    void ShowRow(int index);

    TIBBase FBase;
    TIBSQL FQSelect;
    QStringList FSQL;
    bool FParamCheck = true;
    QStringList FParamNames;
    int FBufferChunks = 1000;
    bool FPrepared = false;
    bool FActive = false;
    bool FEof = false;
    TFields FFields;
    QVector<int> FFieldColumns; // output column of each field
    QVector<QVector<QVariant>> FRows;
    int FRecNo = -1;
};
