#include "update/delta.h"

#include "delta/delta.h"
#include "platform/files.h"
#include "update/names.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// The patch waits beside its file while it is applied; never kept.
const QString PatchSuffix = QStringLiteral(".zembo-delta-patch");

QString ServerPath(const QString& name)
{
    return QString::fromLatin1(DeltaFolder) + u'/' + name;
}

// A small signed text of the delta folder, bounded as the manifest is. It
// waits in a private temporary folder: a look that changes nothing
// (zembo-check) reads the index too.
QByteArray FetchText(const TServerFetch& fetch, const char* name)
{
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        throw EInOutError(QStringLiteral("Cannot create a temporary folder. ") + scratch.errorString());
    const QString file = scratch.filePath(QString::fromLatin1(name));
    fetch(ServerPath(QString::fromLatin1(name)), file, MaxReleaseFileSize);
    return ReadFileBytes(file);
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
    if (!FHashes.contains(name)) {
        QByteArray hash;
        try {
            if (FileExists(name) && !IsLink(name))
                hash = Sha256OfFile(name);
        } catch (const EInOutError&) {
            // a local copy that cannot be read is fetched whole, as without deltas
        }
        FHashes.insert(name, hash);
    }
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
