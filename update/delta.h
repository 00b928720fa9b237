// Files of a signed release rebuilt from binary patches instead of fetched
// whole: the delta index of the release's serial read from the server's
// folder "deltas" and checked with the trusted keys, the patch that serves
// a file to fetch (its local copy is the build the patch starts from), and
// the file rebuilt from it and held to the release's hash. The server is
// reached only through TServerFetch, whatever the source.
#pragma once

#include "release/release.h"
#include "update/plan.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>

// Fetches the file of the server's release folder named by serverName (a
// path below it, such as "deltas/x.zst") into localFile, failing when the
// server sends more than maxBytes. Raises on any failure.
using TServerFetch = std::function<void(const QString& serverName, const QString& localFile, std::int64_t maxBytes)>;

// Where the main executable rebuilt from a patch waits for the replacement.
inline const QString BuiltExecutable = QStringLiteral("Quendarive.exe.zembo-delta");

class TDeltas {
public:
    // Reads and checks the index; any failure (none published, a bad
    // signature, another serial) leaves no patches, and Problem says why.
    void Load(const TServerFetch& fetch, const TManifest& manifest, const QList<TPublicKey>& keys);
    bool Available() const { return FManifest != nullptr; }
    const QString& Problem() const { return FProblem; }
    // The patch that rebuilds the file to fetch from its local copy (for
    // the archive: the main executable from the local one), or none.
    const TDeltaEntry* For(const QString& name);
    // The local main executable is the one the release's archive holds.
    bool ExecutableIsCurrent();
    // Marks the plan's files a patch serves with its size, and the archive
    // as up to date when the local main executable is already the release's.
    void Annotate(TUpdatePlan& plan);
    // Fetches the patch (no more than its listed size), rebuilds the file
    // into outFile and checks its hash; outFile is left only when it is
    // right. Raises with the reason.
    void Build(const TServerFetch& fetch, const TDeltaEntry& entry, const QString& outFile);
    // Build for a file of the folder, then it replaces the local copy in
    // one rename and takes the server's time.
    void Install(const TServerFetch& fetch, const TDeltaEntry& entry, const TPlanItem& item);

private:
    QByteArray LocalHash(const QString& name);

    const TManifest* FManifest = nullptr;
    TDeltaIndex FIndex;
    QString FProblem;
    QHash<QString, QByteArray> FHashes; // of the local copies, read once
};
