// What an update would do in the installation folder (the working folder),
// computed with the update run's own checks, settings, connection and plan
// and the upgrade run's plan. Nothing is fetched, written, stamped or run.
#pragma once

#include "platform/datetime.h"
#include "platform/errors.h"
#include "release/release.h"
#include "update/checks.h"
#include "update/updaterun.h"
#include "upgrade/upgraderun.h"

#include <QList>
#include <optional>

// A check of the update window failed; the message is the window's.
class ECheckFailed : public Exception {
public:
    explicit ECheckFailed(const TCheckFailure& failure);
    TCheckKind Kind() const { return FKind; }

private:
    TCheckKind FKind;
};

struct TFileCheck {
    TPlanItem Item;
    std::optional<TDateTime> Local; // none: no local file, or a refused name
};

struct TAliasCheck {
    QString Alias;
    TUpgradePlan Plan;
};

// A file of the signed release against its local copy.
struct TReleaseFileCheck {
    QString Name;
    std::optional<TDifferenceKind> Difference; // none: the local copy matches
};

struct TCheckReport {
    QList<TFileCheck> Files; // the listed entries, in listing order
    bool Replacement = false; // the main executable would be replaced
    bool ReplacementPending = false; // an earlier run did not finish replacing it
    QList<TAliasCheck> Aliases;
    std::optional<TSignedRelease> Release; // verified; none without a trusted key
    QList<TReleaseFileCheck> ReleaseFiles; // the release's files, in its order
    // Anything to fetch, refuse, replace or run.
    bool Pending() const;
};

// Raises ECheckFailed for a failed check and EUpdateConnectError when the
// server cannot be reached; any other error (settings, catalogue query,
// listing, customer database) passes through.
TCheckReport VerificaAtualizacao();

// The history of each alias's database, as an update would open it; a
// pending script error file does not stop it.
QList<std::pair<QString, THistoryReport>> HistoricoDasBases();

// Each file of the manifest that a run installs against its local copy
// (the Arquivos_dlls entry and names the run refuses are not judged).
// Raises EInOutError for a local copy that cannot be read.
QList<TReleaseFileCheck> ConfereArquivos(const TManifest& manifest);
