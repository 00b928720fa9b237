#include "update/delta.h"

#include "delta/delta.h"
#include "platform/files.h"
#include "update/names.h"

#include <QFileInfo>

namespace {

// The patch and the index wait here while they are read; never kept.
const QString PatchSuffix = QStringLiteral(".zembo-delta-patch");
const QString IndexFile = QStringLiteral("zembo-deltas.tmp");

QString ServerPath(const QString& name)
{
    return QString::fromLatin1(DeltaFolder) + u'/' + name;
}

// A small signed text of the delta folder, bounded as the manifest is.
QByteArray FetchText(const TServerFetch& fetch, const char* name)
{
    struct TRemoved {
        ~TRemoved() { DeleteFile(IndexFile); }
    } removed;
    fetch(ServerPath(QString::fromLatin1(name)), IndexFile, MaxReleaseFileSize);
    return ReadFileBytes(IndexFile);
}

} // namespace

void TDeltas::Load(const TServerFetch& fetch, const TManifest& manifest, const QList<TPublicKey>& keys)
{
    FManifest = nullptr;
    FHashes.clear();
    try {
        QByteArray index;
        try {
            index = FetchText(fetch, DeltaIndexName);
        } catch (const std::exception& error) {
            throw EReleaseError(QStringLiteral("nenhum índice de deltas no servidor (") + ErrorText(error) + u')');
        }
        FIndex = VerifyDeltaIndex(index, FetchText(fetch, DeltaSignatureName), keys);
        if (FIndex.Serial != manifest.Serial)
            throw EReleaseError(QStringLiteral("o índice de deltas é da versão %1, não da %2")
                                    .arg(FIndex.Serial)
                                    .arg(manifest.Serial));
        FManifest = &manifest;
        FProblem.clear();
    } catch (const std::exception& error) {
        FIndex = {};
        FProblem = ErrorText(error);
    }
}

QByteArray TDeltas::LocalHash(const QString& name)
{
    if (!FHashes.contains(name))
        FHashes.insert(name, FileExists(name) && !IsLink(name) ? Sha256OfFile(name) : QByteArray());
    return FHashes.value(name);
}

const TDeltaEntry* TDeltas::For(const QString& name)
{
    if (!FManifest)
        return nullptr;
    const QString target = name == MainArchive ? MainExecutable : name;
    const QByteArray local = LocalHash(target);
    if (local.isEmpty())
        return nullptr;
    if (name == MainArchive) {
        const std::optional<QByteArray> newer = FIndex.NewHashOf(MainExecutable);
        return newer && FManifest->Find(MainArchive) ? FIndex.Find(MainExecutable, local, *newer) : nullptr;
    }
    const TManifestEntry* entry = FManifest->Find(name);
    const TDeltaEntry* patch = entry ? FIndex.Find(name, local, entry->Sha256) : nullptr;
    return patch && patch->NewSize == entry->Size ? patch : nullptr;
}

bool TDeltas::ExecutableIsCurrent()
{
    const std::optional<QByteArray> newer = FManifest ? FIndex.NewHashOf(MainExecutable) : std::nullopt;
    return newer && LocalHash(MainExecutable) == *newer;
}

void TDeltas::Annotate(TUpdatePlan& plan)
{
    for (TPlanItem& item : plan.Items) {
        if (item.Decision != fdBaixar)
            continue;
        if (item.Name == MainArchive && ExecutableIsCurrent())
            item.Decision = fdAtualizado;
        else if (const TDeltaEntry* patch = For(item.Name))
            item.DeltaSize = patch->PatchSize;
    }
}

void TDeltas::Build(const TServerFetch& fetch, const TDeltaEntry& entry, const QString& outFile)
{
    const QString patch = outFile + PatchSuffix;
    struct TRemoved {
        QString Path;
        ~TRemoved() { DeleteFile(Path); }
    } removed{patch};
    fetch(ServerPath(entry.PatchName()), patch, entry.PatchSize);
    if (QFileInfo(patch).size() != entry.PatchSize)
        throw EDeltaError(QStringLiteral("o delta %1 veio com %2 bytes, e não %3")
                              .arg(entry.PatchName())
                              .arg(QFileInfo(patch).size())
                              .arg(entry.PatchSize));
    const QString source = entry.Name;
    try {
        try {
            ApplyPatch(source, patch, outFile, entry.NewSize);
        } catch (const EDeltaError& error) {
            throw EDeltaError(entry.PatchName() + QStringLiteral(": ") + error.Message());
        }
        if (QFileInfo(outFile).size() != entry.NewSize || Sha256OfFile(outFile) != entry.NewSha256)
            throw EDeltaError(QStringLiteral("o arquivo refeito pelo delta %1 não confere com o SHA-256 da versão")
                                  .arg(entry.PatchName()));
    } catch (...) {
        DeleteFile(outFile);
        throw;
    }
}

void TDeltas::Install(const TServerFetch& fetch, const TDeltaEntry& entry, const TPlanItem& item)
{
    const QString built = item.Name + QStringLiteral(".zembo-delta");
    Build(fetch, entry, built);
    if (const QString failed = ReplaceFile(built, item.Name); !failed.isEmpty()) {
        DeleteFile(built);
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(item.Name, failed));
    }
    FHashes.remove(item.Name);
    FileSetDate(item.Name, item.RemoteTime); // outside 1980..2107 the file keeps its time
}
