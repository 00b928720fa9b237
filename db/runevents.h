// The runs the installations report to the central catalogue: table
// atualizacoes, which the maker creates. An installation only inserts
// there (its shared account may do nothing else); the maker's own account
// reads the rows back for the fleet's view.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

inline const QString RunTable = QStringLiteral("atualizacoes");
inline const QString RunStartEvent = QStringLiteral("inicio");
inline const QString RunEndEvent = QStringLiteral("fim");

// One row. Null texts and empty optionals are stored as NULL.
struct TRunEvent {
    QString Execucao;   // the run's id
    QString Evento;     // RunStartEvent or RunEndEvent
    QString Instalacao; // the installation's id
    QString Alias;
    QString Maquina;
    QString Face;       // "janela" or "noturna"
    QDateTime Momento;  // UTC, to the second
    QString Resultado;  // on the end: sucesso, erros, script, cancelada, sem_conexao
    QString Causa;
    std::optional<qint64> SerieAntes;
    std::optional<qint64> SerieDepois;
    QString VersaoAntes;
    QString VersaoDepois;
    std::optional<qint64> Arquivos;
    std::optional<qint64> Bytes;
    QString ScriptFalhou;
    QString Atualizador;
};

// Inserts the row into the open catalogue databaseName: one statement, the
// values bound, each text cut to its column's size. Raises EDBEngineError.
void InsertRunEvent(const QString& databaseName, const TRunEvent& event);
// Whether the open catalogue holds the table, as its account sees it.
bool HasRunTable(const QString& databaseName);
// Every row of the table, for an account that may read it. Raises EDBEngineError.
QList<TRunEvent> ReadRunEvents(const QString& databaseName);
