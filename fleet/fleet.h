// The maker's view of the fleet: the runs the installations reported to the
// central catalogue (table atualizacoes) judged per installation, and the
// report page for the maker's support.
#pragma once

#include "db/runevents.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <optional>

// The outcome shown for a run whose end never arrived.
inline const QString RunInProgress = QStringLiteral("em andamento");

// One installation as its runs show it.
struct TInstallation {
    QString Instalacao;
    QString Alias;
    QString Maquina;
    QDateTime Quando;    // the last run's start (UTC)
    QString Face;
    QString Resultado;   // the last run's outcome, or RunInProgress
    QString Causa;
    std::optional<qint64> Serie; // the release serial last known
    QString Versao;              // VERSAO last known
    qint64 Execucoes = 0;        // runs reported
    bool Falhando = false;   // the last run did not succeed
    bool Silenciosa = false; // no run for the given days
    bool Atrasada = false;   // an older serial or VERSAO than the newest
    bool Travada = false;    // the last run has been in progress for over an hour
    bool EmDia() const { return !Falhando && !Silenciosa && !Atrasada && !Travada; }
    // The flags' names, worst first ("falhando", "travada", "silenciosa", "atrasada").
    QStringList Sinais() const;
};

struct TFleet {
    QDateTime Agora;
    int Dias = 7;
    std::optional<qint64> SerieMaisNova; // the newest serial any installation reached
    QString VersaoMaisNova;               // the newest released script
    QList<TInstallation> Instalacoes;     // worst first
    // Runs per day (UTC) by outcome, over the 30 days up to Agora.
    QMap<QDate, QMap<QString, int>> PorDia;
    bool TodasEmDia() const;
    int Contagem(bool (*flag)(const TInstallation&)) const;
};

// Judges the runs at the moment now: silent after silentDays without a run;
// newestScript is the newest script version released in the catalogue.
TFleet JulgaFrota(const QList<TRunEvent>& events, const QString& newestScript, const QDateTime& now,
                  int silentDays);

// The newest released script of the program in the open catalogue, compared
// as text as the upgrade compares versions; empty without one.
QString VersaoMaisNovaLiberada(const QString& catalogue);

// The report page: one self-contained HTML file (inline CSS and SVG, no
// script and nothing fetched from anywhere), in Portuguese.
QByteArray PaginaDaFrota(const TFleet& fleet);
