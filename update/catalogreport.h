// The report of a run to the maker's central catalogue: a row in its table
// atualizacoes as the run starts and another, with the same run id, as it
// ends. Reporting never changes an update: without the table nothing is
// written or said, and a refused row goes to the run log only.
#pragma once

#include "db/runevents.h"

#include <QString>
#include <functional>

// Which face ran the update.
enum TRunFace {
    rfJanela,  // the update window
    rfNoturna, // zembo-update, unattended
};

// The installation's id file in the installation folder.
inline const QString InstallationIdFile = QStringLiteral("zembo-instalacao.id");

// The installation's id: read from InstallationIdFile in the working folder,
// made at random and written there (aside and renamed) when it holds none.
// Raises EInOutError when it cannot be written.
QString InstallationId();

class TCatalogReport {
public:
    // catalogue: the open catalogue's DatabaseName; log: the run log.
    TCatalogReport(QString catalogue, TRunFace face, std::function<void(const QString&)> log);

    // The start row: when the catalogue holds the table, the run id and
    // the installation's id are made and facts asked for (the alias, the
    // serial and VERSAO before); else nothing happens, now or at the end.
    void Start(const std::function<TRunEvent()>& facts);
    // The end row, after a start that sent one (or tried to).
    void End(const std::function<TRunEvent()>& facts);

private:
    void Send(TRunEvent event, const QString& evento);

    QString FCatalogue;
    TRunFace FFace;
    std::function<void(const QString&)> FLog;
    bool FEnabled = false; // the table is there and the start was prepared
    QString FRun;
    QString FInstallation;
};
