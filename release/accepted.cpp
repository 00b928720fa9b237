// The last release an installation accepted: its manifest, kept as signed in
// the installation folder, so that an older release offered later is refused.
#include "release/release.h"

#include "platform/files.h"

#include <QDir>

namespace {

QString AcceptedPath(const QString& folder)
{
    return QDir(folder).filePath(QString::fromLatin1(AcceptedReleaseName));
}

} // namespace

std::optional<TManifest> LastAcceptedManifest(const QString& folder)
{
    const QString path = AcceptedPath(folder);
    if (!FileExists(path))
        return std::nullopt;
    try {
        return ParseManifest(ReadFileBytes(path));
    } catch (const Exception& e) {
        // Fail closed: without the record, any older release would pass.
        throw EReleaseError(QStringLiteral("Registro da última versão aceita (%1) ilegível: %2").arg(path, e.Message()));
    }
}

qint64 LastAcceptedSerial(const QString& folder)
{
    const std::optional<TManifest> accepted = LastAcceptedManifest(folder);
    return accepted ? accepted->Serial : 0;
}

void CheckNotOlder(const QString& folder, const TManifest& manifest)
{
    const qint64 accepted = LastAcceptedSerial(folder);
    if (manifest.Serial < accepted)
        throw EReleaseError(QStringLiteral("Versão %1 recusada: é mais antiga que a versão %2, já aceita nesta instalação.")
                                .arg(manifest.Serial)
                                .arg(accepted));
}

void AcceptRelease(const QString& folder, const QByteArray& manifest)
{
    CheckNotOlder(folder, ParseManifest(manifest));
    WriteFileBytes(AcceptedPath(folder), manifest);
}
