// The plan of a synchronisation: every line of the server's listing judged
// against the local file (fetched, up to date, never fetched, refused and
// why, a folder, the signed release's own files), and the one rule for
// "the main executable will be replaced", which the run and a check tool
// share.
#pragma once

#include "platform/datetime.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

struct TManifest;
class TIdFTPListItems;

enum TFileDecision {
    fdBaixar,       // differs from the server: fetched
    fdAtualizado,   // same minute as the server
    fdNuncaBaixado, // the Arquivos_dlls entry
    fdRecusado,     // a name that would write outside the folder
    fdSemItem,      // a listing line that names no entry
    fdPasta,        // a folder of the listing (".", ".." among them): never fetched
    fdManifesto,    // the signed release's manifest or signature: read apart
};
QString DecisionText(TFileDecision decision); // "baixar", "atualizado", ...

// Tree state pictures: green, orange (being fetched), red; none for a line
// without an entry.
enum TNodeState { nsNone = -1, nsGreen = 1, nsOrange = 3, nsRed = 4 };

struct TPlanItem {
    QString Line;         // the raw listing line, the tree node's text
    QString Name;         // the listed name; empty without an entry
    TDateTime RemoteTime; // the listing's modification time
    TFileDecision Decision = fdSemItem;
    QString Reason;       // why a name is refused
    std::int64_t ListedSize = -1; // the listing's size, when it gives one
    std::int64_t DeltaSize = -1;  // a signed patch rebuilds the file: the patch's size
    TNodeState State() const;
};

struct TUpdatePlan {
    QList<TPlanItem> Items; // one per listing line, in order
    bool AnyToFetch() const;
    bool Fetches(const QString& name) const;
    // The replacement condition (SubstituicaoNecessaria's) when every
    // fetch succeeds.
    bool ReplacementExpected() const;
};

// Pairs each line with the entry parsed from it (entries keep their line)
// and judges each entry against the local file. With a signed release's
// manifest, a listed file it does not name is refused.
TUpdatePlan PlanejaAtualizacao(const QStringList& lines, const TIdFTPListItems& items,
                               const TManifest* manifest = nullptr);
// The plan of a web source, whose folder is the signed manifest: one line
// per entry (its name), fetched when the local copy's size or SHA-256
// differs; time stamps do not decide.
TUpdatePlan PlanejaPeloManifesto(const TManifest& manifest);
// Whether the local file must be fetched: both times as "dd/mm/yyyy HH:mm"
// differ; a missing file counts as today at 00:00.
bool ArquivoDiferente(const QString& name, TDateTime remoteTime);
// Why a listed name may not be written in the working folder, or empty.
QString MotivoRecusa(const QString& name);
// Whether the run replaces the main executable: anything fetched, the main
// executable missing or a replacement pending; no error; the archive here.
bool SubstituicaoNecessaria(bool downloaded, bool failed);
// An earlier run was to replace the main executable and did not finish.
bool SubstituicaoPendente();
// Records the replacement as pending (written aside and renamed); raises
// EInOutError when it cannot, and nothing should be changed then.
void MarcaSubstituicaoPendente();
