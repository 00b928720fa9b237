// The central catalogue database, opened through its alias (a MYSQL alias
// for MariaDB or MySQL, an SQLITE alias for a catalogue file): the
// connection and queries on it.
#pragma once

#include "db/fields.h"

#include <QObject>
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

private:
    void OpenText(const QString& text, const QVariantList& values);
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

// The bytes a field holds: a blob as stored, a text in the ANSI code page.
QByteArray FieldBytes(const TField& field);
