#include "upgrade/history.h"

#include "db/ibdatabase.h"
#include "db/ibquery.h"

#include <QCryptographicHash>
#include <QMap>
#include <QSet>

namespace {

const QString TableCheck =
    QStringLiteral("SELECT COUNT(*) CT FROM RDB$RELATIONS WHERE RDB$RELATION_NAME='ZEMBO_HISTORICO'");

const QString CreateTable = QStringLiteral(
    "CREATE TABLE ZEMBO_HISTORICO (PROGRAMA VARCHAR(20) NOT NULL, VERSAO VARCHAR(10) NOT NULL, "
    "CHECKSUM CHAR(64) NOT NULL, INICIO TIMESTAMP NOT NULL, DURACAO_MS INTEGER NOT NULL, "
    "COMANDOS INTEGER NOT NULL, RESULTADO VARCHAR(10) NOT NULL, MENSAGEM VARCHAR(1000), "
    "ARQUIVO_ERRO VARCHAR(255), COPIA VARCHAR(255), ATUALIZADOR VARCHAR(40))");

// Dialect 1 would cast a timestamp to "01-DEC-2026 10:00:01.0000": the
// start is put together part by part as YYYY-MM-DD HH:MM:SS.zzz.
QString TimePart(const char* part, int width)
{
    return QStringLiteral("LPAD(CAST(FLOOR(EXTRACT(%1 FROM INICIO)) AS INTEGER), %2, '0')")
        .arg(QLatin1String(part))
        .arg(width);
}

QString SelectRows()
{
    const QString start = TimePart("YEAR", 4) + QStringLiteral(" || '-' || ") + TimePart("MONTH", 2) +
        QStringLiteral(" || '-' || ") + TimePart("DAY", 2) + QStringLiteral(" || ' ' || ") + TimePart("HOUR", 2) +
        QStringLiteral(" || ':' || ") + TimePart("MINUTE", 2) + QStringLiteral(" || ':' || ") + TimePart("SECOND", 2) +
        QStringLiteral(" || '.' || ") + TimePart("MILLISECOND", 3);
    return QStringLiteral("SELECT PROGRAMA, VERSAO, CHECKSUM, ") + start +
        QStringLiteral(" INICIO, DURACAO_MS, COMANDOS, RESULTADO, MENSAGEM, ARQUIVO_ERRO, COPIA, ATUALIZADOR "
                       "FROM ZEMBO_HISTORICO ORDER BY ZEMBO_HISTORICO.INICIO DESC, VERSAO DESC");
}

// A text literal of at most length characters, or NULL for an empty text.
QString Literal(const QString& text, qsizetype length, bool nullWhenEmpty = true)
{
    if (text.isEmpty() && nullWhenEmpty)
        return QStringLiteral("NULL");
    QString value = text.left(length);
    value.replace(u'\'', QStringLiteral("''"));
    return u'\'' + value + u'\'';
}

QString InsertRow(const THistoryEntry& e)
{
    return QStringLiteral("INSERT INTO ZEMBO_HISTORICO (PROGRAMA, VERSAO, CHECKSUM, INICIO, DURACAO_MS, COMANDOS, "
                          "RESULTADO, MENSAGEM, ARQUIVO_ERRO, COPIA, ATUALIZADOR) VALUES (") +
        QStringList{Literal(e.Programa, 20, false), Literal(e.Versao, 10, false), Literal(e.Checksum, 64, false),
                    Literal(e.Inicio.left(23), 30, false), QString::number(e.DuracaoMs), QString::number(e.Comandos),
                    Literal(e.Resultado, 10, false), Literal(e.Mensagem, 1000), Literal(e.ArquivoErro, 255),
                    Literal(e.Copia, 255), Literal(e.Atualizador, 40)}
            .join(QStringLiteral(", ")) +
        u')';
}

bool Ran(const THistoryEntry& entry)
{
    return entry.Resultado != QLatin1String(HistoryBaseline);
}

} // namespace

QString ScriptChecksum(const QByteArray& text)
{
    QByteArray normal;
    normal.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normal.append('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            normal.append(text[i]);
        }
    }
    return QString::fromLatin1(QCryptographicHash::hash(normal, QCryptographicHash::Sha256).toHex());
}

TUpgradeHistory::TUpgradeHistory(TIBDatabase& database)
    : FDatabase(database), FTransaction(std::make_unique<TIBTransaction>()), FQuery(std::make_unique<TIBQuery>())
{
    FTransaction->SetDefaultDatabase(&database);
    FQuery->setObjectName(QStringLiteral("History"));
    FQuery->SetDatabase(&database);
    FQuery->SetTransaction(FTransaction.get());
}

TUpgradeHistory::~TUpgradeHistory() = default;

// Executed at once, with nothing prepared: a row is written once.
void TUpgradeHistory::Exec(const QString& sql)
{
    FTransaction->StartTransaction();
    FDatabase.ExecuteImmediate(*FTransaction, FDatabase.Encode(sql));
    FTransaction->Commit();
}

bool TUpgradeHistory::Exists()
{
    FQuery->SetSQL({TableCheck});
    FQuery->Open();
    const bool exists = FQuery->FieldByName(QStringLiteral("CT")).AsInteger() != 0;
    FQuery->Close();
    FTransaction->Rollback();
    return exists;
}

void TUpgradeHistory::Begin(const THistoryEntry& baseline)
{
    if (Exists())
        return;
    Exec(CreateTable);
    Record(baseline);
}

void TUpgradeHistory::Record(const THistoryEntry& entry)
{
    Exec(InsertRow(entry));
}

QList<THistoryEntry> TUpgradeHistory::Read()
{
    QList<THistoryEntry> rows;
    if (!Exists())
        return rows;
    FQuery->SetSQL({SelectRows()});
    FQuery->Open();
    auto text = [this](const char* name) { return FQuery->FieldByName(QLatin1String(name)).AsString().trimmed(); };
    for (; !FQuery->Eof(); FQuery->Next())
        rows.append({text("PROGRAMA"), text("VERSAO"), text("CHECKSUM"), text("INICIO"),
                     FQuery->FieldByName(QStringLiteral("DURACAO_MS")).AsLargeInt(),
                     FQuery->FieldByName(QStringLiteral("COMANDOS")).AsInteger(), text("RESULTADO"), text("MENSAGEM"),
                     text("ARQUIVO_ERRO"), text("COPIA"), text("ATUALIZADOR")});
    FQuery->Close();
    FTransaction->Rollback();
    return rows;
}

THistoryFindings ValidateHistory(const QList<THistoryEntry>& history, const QList<TCatalogScript>& released,
                                 const QString& recordedVersion)
{
    QMap<QString, QString> catalogue;
    for (const TCatalogScript& script : released)
        catalogue.insert(script.Versao, ScriptChecksum(script.Texto));
    THistoryFindings findings;
    QString baseline;
    QSet<QString> judged;
    QSet<QString> ranOk;
    for (const THistoryEntry& entry : history) {
        if (!Ran(entry)) {
            baseline = entry.Versao; // the oldest baseline, the last one met
            continue;
        }
        if (entry.Resultado == QLatin1String(HistoryOk))
            ranOk.insert(entry.Versao);
        // The newest run of a version is the one that counts.
        if (judged.contains(entry.Versao))
            continue;
        judged.insert(entry.Versao);
        if (catalogue.value(entry.Versao) != entry.Checksum)
            findings.Edited.append(entry);
    }
    for (const TCatalogScript& script : released)
        if (script.Versao > baseline && script.Versao <= recordedVersion && !ranOk.contains(script.Versao))
            findings.Gaps.append(script.Versao);
    return findings;
}
