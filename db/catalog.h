// The central catalogue database, opened through its alias (a MYSQL alias
// for MariaDB or MySQL, an SQLITE alias for a catalogue file): the
// connection, queries on it, the master-detail table and the memo bound to
// a blob field.
#pragma once

#include "db/fields.h"

#include <QObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <memory>

// The connection. Datasets reach it by its DatabaseName. An alias of type
// MYSQL opens a MySQL or MariaDB server (HOST, PORT, DATABASE NAME, optional
// SOCKET); SQLITE opens the file of its DATABASE NAME (or PATH). USER NAME
// and PASSWORD lines of Params take the place of the alias's.
class TDatabase : public QObject {
    Q_OBJECT
public:
    explicit TDatabase(QObject* owner = nullptr);
    ~TDatabase() override;

    QString AliasName() const { return FAliasName; }
    void SetAliasName(const QString& alias);
    QString DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString& name);
    QString SessionName() const { return FSessionName; }
    void SetSessionName(const QString& name) { FSessionName = name; }
    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool value) { FLoginPrompt = value; }
    const QStringList& Params() const { return FParams; }
    void SetParams(const QStringList& params) { FParams = params; }

    void Open();
    void Close();
    bool Connected() const;
    void SetConnected(bool value) { value ? Open() : Close(); }

    QSqlDatabase Connection() const;
    // The open connection a dataset names; raises when there is none.
    static TDatabase& Find(const QString& databaseName);

private:
    QString FAliasName;
    QString FDatabaseName;
    QString FSessionName = QStringLiteral("Default");
    bool FLoginPrompt = true;
    QStringList FParams;
    QString FConnectionName;
};

// Raises EDBEngineError for a failed Qt SQL call.
[[noreturn]] void RaiseEngineError(const class QSqlError& error);

class TQuery : public QObject {
    Q_OBJECT
public:
    explicit TQuery(QObject* owner = nullptr);

    QString DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const QString& name) { FDatabaseName = name; }
    const QStringList& SQL() const { return FSQL; }
    // Each change closes the query.
    void SetSQL(const QStringList& lines);
    void SQLClear() { SetSQL({}); }
    void SQLAdd(const QString& line) { SetSQL(FSQL + QStringList{line}); }
    // Values for the "?" placeholders of the text, in order; each change
    // closes the query.
    void SetBindValues(const QVariantList& values);

    void Open();
    // Runs a statement that returns no rows (an INSERT), with the bound values.
    void ExecSQL();
    void Close();
    bool Active() const { return FActive; }
    bool Eof() const { return !FActive || FEof; }
    void Next();
    TFields& Fields() { return FFields; }
    TField& FieldByName(const QString& name) const { return FFields.FieldByName(name, objectName()); }

protected:
    // Opens the text with bound values; used by the table.
    void OpenText(const QString& text, const QVariantList& values);

private:
    // The text prepared on the connection, its values bound and executed.
    std::unique_ptr<QSqlQuery> Execute(const QString& text, const QVariantList& values) const;
    void ReadRow();

    QString FDatabaseName;
    QStringList FSQL;
    QVariantList FBindValues;
    std::unique_ptr<QSqlQuery> FQuery;
    bool FActive = false;
    bool FEof = false;
    TFields FFields;
};

// A table that, as the detail of a query, opens on the row whose master
// fields equal those of the master's current row.
class TTable : public TQuery {
    Q_OBJECT
public:
    using TQuery::TQuery;

    QString TableName() const { return FTableName; }
    void SetTableName(const QString& name) { FTableName = name; }
    QString IndexFieldNames() const { return FIndexFieldNames; }
    void SetIndexFieldNames(const QString& names) { FIndexFieldNames = names; }
    TQuery* MasterSource() const { return FMaster; }
    void SetMasterSource(TQuery* master) { FMaster = master; }
    QString MasterFields() const { return FMasterFields; }
    void SetMasterFields(const QString& names) { FMasterFields = names; }

    void Open();

private:
    QString FTableName;
    QString FIndexFieldNames;
    QPointer<TQuery> FMaster;
    QString FMasterFields;
};

// The data-aware memo: its lines are the bound field's bytes read in the
// ANSI code page, split at every line break.
class TDBMemo : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void SetDataSource(TQuery* dataset, const QString& fieldName);
    bool WordWrap() const { return false; }
    // Empty while the dataset is closed.
    QStringList Lines() const;

private:
    QPointer<TQuery> FDataset;
    QString FFieldName;
};
