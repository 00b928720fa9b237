// The upgrade history kept in each customer database: the table
// ZEMBO_HISTORICO, one row per script run, and what it says against the
// catalogue's scripts.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class TIBDatabase;
class TIBQuery;
class TIBTransaction;

// One row of the history. Inicio is "YYYY-MM-DD HH:MM:SS.zzz" (local time).
struct THistoryEntry {
    QString Programa;
    QString Versao;
    QString Checksum;
    QString Inicio;
    qint64 DuracaoMs = 0;
    int Comandos = 0;
    QString Resultado; // "OK", "FALHOU", "PARSE" or "BASE"
    QString Mensagem;
    QString ArquivoErro;
    QString Copia;
    QString Atualizador;
};

// The results a row may carry.
inline constexpr const char* HistoryOk = "OK";
inline constexpr const char* HistoryFailed = "FALHOU";
inline constexpr const char* HistoryParse = "PARSE";
inline constexpr const char* HistoryBaseline = "BASE";

// SHA-256 in lower-case hex of a script's text with CR LF and lone CR read
// as LF, so a change of line endings alone keeps the checksum.
QString ScriptChecksum(const QByteArray& text);

// The history of the database the connection names; each change is made in
// a transaction of its own and committed at once.
class TUpgradeHistory {
public:
    explicit TUpgradeHistory(TIBDatabase& database);
    ~TUpgradeHistory();
    TUpgradeHistory(const TUpgradeHistory&) = delete;
    TUpgradeHistory& operator=(const TUpgradeHistory&) = delete;

    bool Exists();
    // Creates the table when it is missing, with its baseline row: the
    // version the database stood at when its history began.
    void Begin(const THistoryEntry& baseline);
    void Record(const THistoryEntry& entry);
    // Newest first; none without the table.
    QList<THistoryEntry> Read();

private:
    void Exec(const QString& sql);

    TIBDatabase& FDatabase;
    std::unique_ptr<TIBTransaction> FTransaction;
    std::unique_ptr<TIBQuery> FQuery;
};

// A script of the catalogue as validation sees it.
struct TCatalogScript {
    QString Versao;
    QByteArray Texto;
};

// What validation finds: scripts that ran here with another text than the
// catalogue's now (or that left the catalogue), and released versions above
// the baseline and at or below the recorded version that never ran here.
struct THistoryFindings {
    QList<THistoryEntry> Edited;
    QStringList Gaps;
    bool Empty() const { return Edited.isEmpty() && Gaps.isEmpty(); }
};

// history newest first (as Read gives it); released the catalogue's released
// scripts of the database's program.
THistoryFindings ValidateHistory(const QList<THistoryEntry>& history, const QList<TCatalogScript>& released,
                                 const QString& recordedVersion);
