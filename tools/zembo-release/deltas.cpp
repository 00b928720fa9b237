#include "tools/zembo-release/deltas.h"

#include "delta/delta.h"
#include "platform/files.h"
#include "tools/cli.h"
#include "tools/escape.h"
#include "update/names.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// A patch must cost clearly less than the file, or it is not worth a customer's trouble.
constexpr double MostOfTheFile = 0.6;

QString Short(const QByteArray& sha256)
{
    return QString::fromLatin1(sha256.toHex().left(16));
}

// Every old build of one file: the path and hash of each, the new file's own left out.
struct TOldBuild {
    QString Path;
    QByteArray Sha256;
};

QList<TOldBuild> OldBuilds(const QStringList& paths, const QByteArray& newSha256)
{
    QList<TOldBuild> builds;
    for (const QString& path : paths) {
        if (!FileExists(path) || IsLink(path))
            continue;
        const QByteArray sha256 = Sha256OfFile(path);
        const bool known = std::any_of(builds.begin(), builds.end(), [&](const TOldBuild& b) { return b.Sha256 == sha256; });
        if (sha256 != newSha256 && !known)
            builds.append({path, sha256});
    }
    return builds;
}

// The patches of one new file from each old build that is worth one.
void AddPatches(TDeltaIndex& index, const QDir& deltas, const QString& name, const QString& newFile,
                const QStringList& oldPaths)
{
    const QByteArray sha256 = Sha256OfFile(newFile);
    const qint64 size = QFileInfo(newFile).size();
    for (const TOldBuild& old : OldBuilds(oldPaths, sha256)) {
        TDeltaEntry entry{old.Sha256, sha256, size, 0, name};
        const QString patch = deltas.filePath(entry.PatchName());
        entry.PatchSize = MakePatch(old.Path, newFile, patch);
        const bool worth = double(entry.PatchSize) < MostOfTheFile * double(size);
        WriteText(stdout, QStringLiteral("%1 %2 de %3: %4 bytes de %5\n")
                              .arg(worth ? QStringLiteral("delta") : QStringLiteral("sem delta (não compensa)"),
                                   Escaped(name), Short(old.Sha256))
                              .arg(entry.PatchSize)
                              .arg(size));
        if (worth)
            index.Entries.append(entry);
        else
            DeleteFile(patch);
    }
}

// The old build among sources whose hash is sha256, if any.
QString OldBuildOf(const TDeltaEntry& entry, const TDeltaSources& sources)
{
    QStringList paths = sources.OldExecutables;
    for (const QString& folder : sources.OldFolders)
        paths << QDir(folder).filePath(entry.Name);
    for (const QString& path : paths)
        if (FileExists(path) && Sha256OfFile(path) == entry.OldSha256)
            return path;
    return {};
}

// Why the patch is wrong, or empty.
QString PatchFault(const TDeltaEntry& entry, const QDir& deltas, const TManifest& manifest, const TDeltaSources& sources)
{
    const QString patch = deltas.filePath(entry.PatchName());
    if (!FileExists(patch))
        return QStringLiteral("delta ausente");
    if (QFileInfo(patch).size() != entry.PatchSize)
        return QStringLiteral("delta tamanho");
    const TManifestEntry* file = manifest.Find(entry.Name);
    if (entry.Name != MainExecutable && (!file || file->Sha256 != entry.NewSha256 || file->Size != entry.NewSize))
        return QStringLiteral("delta manifesto");
    const QString old = OldBuildOf(entry, sources);
    if (old.isEmpty())
        return {};
    QTemporaryDir scratch;
    const QString rebuilt = scratch.filePath(QStringLiteral("arquivo"));
    try {
        ApplyPatch(old, patch, rebuilt, entry.NewSize);
    } catch (const EDeltaError&) {
        return QStringLiteral("delta sha256");
    }
    return Sha256OfFile(rebuilt) == entry.NewSha256 ? QString() : QStringLiteral("delta sha256");
}

} // namespace

QByteArray ReadReleaseFile(const QString& path)
{
    if (!FileExists(path))
        return {};
    if (QFileInfo(path).size() > MaxReleaseFileSize)
        throw EReleaseError(QStringLiteral("%1: maior que %2 bytes.").arg(path).arg(MaxReleaseFileSize));
    return ReadFileBytes(path);
}

TDeltaIndex MakeDeltas(const QString& folder, const TManifest& manifest, const TDeltaSources& sources)
{
    const QString path = QDir(folder).filePath(QString::fromLatin1(DeltaFolder));
    if (!RemoveTree(path) || !QDir().mkpath(path))
        throw EInOutError(QStringLiteral("Cannot create folder \"%1\".").arg(path));
    const QDir deltas(path);
    TDeltaIndex index{manifest.Serial, {}};
    for (const TManifestEntry& file : manifest.Files) {
        QStringList olds;
        for (const QString& old : sources.OldFolders)
            olds << QDir(old).filePath(file.Name);
        AddPatches(index, deltas, file.Name, QDir(folder).filePath(file.Name), olds);
    }
    if (!sources.Executable.isEmpty())
        AddPatches(index, deltas, MainExecutable, sources.Executable, sources.OldExecutables);
    WriteFileBytes(deltas.filePath(QString::fromLatin1(DeltaIndexName)), FormatDeltaIndex(index));
    return index;
}

QStringList VerifyDeltas(const QString& folder, const TManifest& manifest, const QList<TPublicKey>& keys,
                         const TDeltaSources& sources)
{
    const QDir deltas(QDir(folder).filePath(QString::fromLatin1(DeltaFolder)));
    const QString indexFile = deltas.filePath(QString::fromLatin1(DeltaIndexName));
    if (!FileExists(indexFile))
        return {};
    const TDeltaIndex index = VerifyDeltaIndex(
        ReadReleaseFile(indexFile), ReadReleaseFile(deltas.filePath(QString::fromLatin1(DeltaSignatureName))), keys);
    if (index.Serial != manifest.Serial)
        throw EReleaseError(QStringLiteral("O índice de deltas é da versão %1, e o manifesto da %2.")
                                .arg(index.Serial)
                                .arg(manifest.Serial));
    QStringList faults;
    for (const TDeltaEntry& entry : index.Entries)
        if (const QString fault = PatchFault(entry, deltas, manifest, sources); !fault.isEmpty())
            faults << fault + u'\t' + Escaped(entry.PatchName());
    return faults;
}
