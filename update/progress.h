// The texts of the transfer display: pure functions of the byte counts, the
// clock and the user's locale, so the window only shows them.
#pragma once

#include "ftp/idftp.h"
#include "platform/datetime.h"

#include <QString>
#include <cstdint>
#include <optional>

// What one progress notification shows.
struct TProgressTexts {
    QString Contador;         // the window's counter label
    QString Status;           // the window's status label
    std::optional<int> Gauge; // the gauge position, when the size is known
};

class TTransferProgress {
public:
    // A transfer begins: the rate starts again from 0.
    void Begin() { FRate = 0; }
    // count bytes received since start, of bytesToTransfer.
    TProgressTexts Work(std::int64_t count, std::uint32_t bytesToTransfer, TDateTime start, TDateTime now);

private:
    double FRate = 0; // KB/s, kept while no time has passed
};

// A number with the pattern "##,###,##0": the locale's thousands separator.
QString FormatThousands(std::int64_t value);
// "Download!!" or "Upload!!".
QString WorkEndStatus(TWorkMode mode);
// "Transferidos: N Kb" at a transfer's end.
QString WorkEndContador(std::uint32_t bytesToTransfer);
// The status bar's text for a connection state.
QString StatusBarText(TIdStatus status, const QString& statusText);
