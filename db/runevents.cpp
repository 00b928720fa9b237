#include "db/runevents.h"

#include "db/catalog.h"

#include <QSqlDatabase>
#include <QVariant>

namespace {

const QString MomentFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The columns in table order, with the size of each text column (0 for the
// others): a longer text would make a strict server refuse the row.
struct TColumn {
    const char* Name;
    int Size;
};
constexpr TColumn Columns[] = {
    {"execucao", 36},     {"evento", 6},       {"instalacao", 36},   {"alias", 30},     {"maquina", 64},
    {"face", 8},          {"momento", 0},      {"resultado", 12},    {"causa", 500},    {"serie_antes", 0},
    {"serie_depois", 0},  {"versao_antes", 10}, {"versao_depois", 10}, {"arquivos", 0}, {"bytes", 0},
    {"script_falhou", 10}, {"atualizador", 40},
};
constexpr int ColumnCount = int(std::size(Columns));

QString ColumnList()
{
    QStringList names;
    for (const TColumn& column : Columns)
        names << QLatin1String(column.Name);
    return names.join(QStringLiteral(", "));
}

QVariant Text(const QString& text)
{
    return text.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

QVariant Number(const std::optional<qint64>& value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<qint64>());
}

QVariantList Values(const TRunEvent& e)
{
    QVariantList values = {Text(e.Execucao),     Text(e.Evento),       Text(e.Instalacao),
                           Text(e.Alias),        Text(e.Maquina),      Text(e.Face),
                           e.Momento.toUTC().toString(MomentFormat),    Text(e.Resultado),
                           Text(e.Causa),        Number(e.SerieAntes), Number(e.SerieDepois),
                           Text(e.VersaoAntes),  Text(e.VersaoDepois), Number(e.Arquivos),
                           Number(e.Bytes),      Text(e.ScriptFalhou), Text(e.Atualizador)};
    for (int i = 0; i < ColumnCount; ++i)
        if (Columns[i].Size > 0 && !values[i].isNull())
            values[i] = values[i].toString().left(Columns[i].Size);
    return values;
}

// A moment as either server gives it back: a date-time (MariaDB) or the
// text it was stored as (SQLite); both are UTC.
QDateTime Moment(const QVariant& value)
{
    QDateTime moment = value.typeId() == QMetaType::QDateTime
                           ? value.toDateTime()
                           : QDateTime::fromString(value.toString().left(19).replace(u' ', u'T'), Qt::ISODate);
    moment.setTimeSpec(Qt::UTC);
    return moment;
}

std::optional<qint64> OptionalNumber(const TField& field)
{
    if (field.IsNull())
        return std::nullopt;
    return field.AsLargeInt();
}

QString OptionalText(const TField& field)
{
    return field.IsNull() ? QString() : field.AsString();
}

} // namespace

void InsertRunEvent(const QString& databaseName, const TRunEvent& event)
{
    TQuery query;
    query.SetDatabaseName(databaseName);
    QStringList marks;
    for (int i = 0; i < ColumnCount; ++i)
        marks << QStringLiteral("?");
    query.SetSQL({QStringLiteral("INSERT INTO ") + RunTable + QStringLiteral(" (") + ColumnList() +
                  QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) + u')'});
    query.SetBindValues(Values(event));
    query.ExecSQL();
}

bool HasRunTable(const QString& databaseName)
{
    const QStringList tables = TDatabase::Find(databaseName).Connection().tables(QSql::Tables);
    return tables.contains(RunTable, Qt::CaseInsensitive);
}

QList<TRunEvent> ReadRunEvents(const QString& databaseName)
{
    TQuery query;
    query.SetDatabaseName(databaseName);
    query.SetSQL({QStringLiteral("SELECT ") + ColumnList() + QStringLiteral(" FROM ") + RunTable});
    query.Open();
    QList<TRunEvent> events;
    for (; !query.Eof(); query.Next()) {
        TFields& f = query.Fields();
        TRunEvent e;
        e.Execucao = f[0].AsString();
        e.Evento = f[1].AsString();
        e.Instalacao = f[2].AsString();
        e.Alias = f[3].AsString();
        e.Maquina = f[4].AsString();
        e.Face = f[5].AsString();
        e.Momento = Moment(f[6].Value());
        e.Resultado = OptionalText(f[7]);
        e.Causa = OptionalText(f[8]);
        e.SerieAntes = OptionalNumber(f[9]);
        e.SerieDepois = OptionalNumber(f[10]);
        e.VersaoAntes = OptionalText(f[11]);
        e.VersaoDepois = OptionalText(f[12]);
        e.Arquivos = OptionalNumber(f[13]);
        e.Bytes = OptionalNumber(f[14]);
        e.ScriptFalhou = OptionalText(f[15]);
        e.Atualizador = OptionalText(f[16]);
        events.append(e);
    }
    return events;
}
