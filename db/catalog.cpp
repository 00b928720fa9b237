#include "db/catalog.h"

#include "db/aliases.h"
#include "db/dberror.h"
#include "platform/codepage.h"
#include "platform/text.h"

#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QUuid>

namespace {

QMap<QString, TDatabase*>& OpenDatabases()
{
    static QMap<QString, TDatabase*> map;
    return map;
}

QString Key(const QString& databaseName)
{
    return databaseName.toUpper();
}

} // namespace

void RaiseEngineError(const QSqlError& error)
{
    QStringList texts;
    for (const QString& t : {error.databaseText(), error.driverText()})
        texts += t.split(u'\n', Qt::SkipEmptyParts);
    if (texts.isEmpty())
        texts << QStringLiteral("General SQL error.");
    throw EDBEngineError(texts);
}

// ---------------------------------------------------------------- TDatabase

TDatabase::TDatabase(QObject* owner) : QObject(owner)
{
    FConnectionName = QStringLiteral("zembo-catalog-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

TDatabase::~TDatabase()
{
    Close();
}

void TDatabase::SetAliasName(const QString& alias)
{
    if (Connected() && alias != FAliasName)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open database"));
    FAliasName = alias;
}

void TDatabase::SetDatabaseName(const QString& name)
{
    if (Connected() && name != FDatabaseName)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on an open database"));
    FDatabaseName = name;
}

bool TDatabase::Connected() const
{
    return QSqlDatabase::contains(FConnectionName) && Connection().isOpen();
}

QSqlDatabase TDatabase::Connection() const
{
    return QSqlDatabase::database(FConnectionName, false);
}

void TDatabase::Open()
{
    if (Connected())
        return;
    const TAliasDefinition alias = FindAlias(FAliasName);
    const QStringList& p = alias.Params;
    QSqlDatabase db;
    if (alias.Type == QLatin1String("MYSQL")) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), FConnectionName);
        db.setHostName(ParamValue(p, QStringLiteral("HOST")).trimmed());
        const QString port = ParamValue(p, QStringLiteral("PORT")).trimmed();
        if (!port.isEmpty())
            db.setPort(port.toInt());
        db.setDatabaseName(ParamValue(p, QStringLiteral("DATABASE NAME")).trimmed());
        // Every wait on the server is bounded: a statement the server never
        // answers (a full disk on its side holds an INSERT) fails in time.
        QString options = QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10;MYSQL_OPT_READ_TIMEOUT=60;MYSQL_OPT_WRITE_TIMEOUT=60");
        const QString socket = ParamValue(p, QStringLiteral("SOCKET")).trimmed();
        if (!socket.isEmpty())
            options += QStringLiteral(";UNIX_SOCKET=") + socket;
        db.setConnectOptions(options);
    } else if (alias.Type == QLatin1String("SQLITE")) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnectionName);
        bool found = false;
        QString file = ParamValue(p, QStringLiteral("DATABASE NAME"), &found);
        if (!found)
            file = ParamValue(p, QStringLiteral("PATH"));
        db.setDatabaseName(file.trimmed());
        // Opening must not create a missing catalogue.
        if (!QFileInfo::exists(file.trimmed())) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(FConnectionName);
            throw EDBEngineError({QStringLiteral("Catalogue file %1 not found.").arg(file.trimmed())});
        }
    } else {
        throw EDBEngineError({QStringLiteral("Alias %1 has the unsupported type %2.").arg(FAliasName, alias.Type)});
    }
    bool found = false;
    const QString user = ParamValue(FParams, QStringLiteral("USER NAME"), &found);
    db.setUserName(found ? user : ParamValue(p, QStringLiteral("USER NAME")));
    const QString password = ParamValue(FParams, QStringLiteral("PASSWORD"), &found);
    db.setPassword(found ? password : ParamValue(p, QStringLiteral("PASSWORD")));
    if (!db.open()) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(FConnectionName);
        RaiseEngineError(error);
    }
    OpenDatabases().insert(Key(FDatabaseName), this);
}

void TDatabase::Close()
{
    if (OpenDatabases().value(Key(FDatabaseName)) == this)
        OpenDatabases().remove(Key(FDatabaseName));
    if (!QSqlDatabase::contains(FConnectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(FConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnectionName);
}

TDatabase& TDatabase::Find(const QString& databaseName)
{
    TDatabase* db = OpenDatabases().value(Key(databaseName));
    if (!db || !db->Connected())
        throw EDBEngineError({QStringLiteral("Database %1 is not open.").arg(databaseName)});
    return *db;
}

// ------------------------------------------------------------------- TQuery

TQuery::TQuery(QObject* owner) : QObject(owner) {}

void TQuery::SetSQL(const QStringList& lines)
{
    Close();
    FSQL = lines;
}

void TQuery::SetBindValues(const QVariantList& values)
{
    Close();
    FBindValues = values;
}

void TQuery::Open()
{
    if (FActive)
        return;
    OpenText(FSQL.join(u'\n'), FBindValues);
}

std::unique_ptr<QSqlQuery> TQuery::Execute(const QString& text, const QVariantList& values) const
{
    TDatabase& db = TDatabase::Find(FDatabaseName);
    auto query = std::make_unique<QSqlQuery>(db.Connection());
    query->setForwardOnly(true);
    if (!query->prepare(text))
        RaiseEngineError(query->lastError());
    for (const QVariant& v : values)
        query->addBindValue(v);
    if (!query->exec())
        RaiseEngineError(query->lastError());
    return query;
}

void TQuery::ExecSQL()
{
    Close();
    Execute(FSQL.join(u'\n'), FBindValues);
}

void TQuery::OpenText(const QString& text, const QVariantList& values)
{
    std::unique_ptr<QSqlQuery> query = Execute(text, values);
    FFields.Clear();
    const QSqlRecord record = query->record();
    for (int i = 0; i < record.count(); ++i)
        FFields.Add(record.fieldName(i), ftUnknown, int(record.field(i).length()),
                    record.field(i).requiredStatus() == QSqlField::Required);
    FQuery = std::move(query);
    FActive = true;
    FEof = false;
    ReadRow();
}

void TQuery::ReadRow()
{
    if (!FQuery->next()) {
        if (FQuery->lastError().isValid())
            RaiseEngineError(FQuery->lastError());
        // Past the end the fields still show the last row.
        FEof = true;
        return;
    }
    for (int i = 0; i < FFields.Count(); ++i)
        FFields[i].SetValue(FQuery->value(i));
}

void TQuery::Next()
{
    if (!FActive || FEof)
        return;
    ReadRow();
}

void TQuery::Close()
{
    FQuery.reset();
    FActive = false;
    FEof = false;
    FFields.Clear();
}

QByteArray FieldBytes(const TField& field)
{
    const QVariant value = field.Value();
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : ToAnsi(value.toString());
}
