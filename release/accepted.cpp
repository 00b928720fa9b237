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

struct TAccepted {
    QByteArray Bytes;
    TManifest Manifest;
};

std::optional<TAccepted> LastAccepted(const QString& folder)
{
    const QString path = AcceptedPath(folder);
    if (!FileExists(path))
        return std::nullopt;
    try {
        QByteArray bytes = ReadFileBytes(path);
        TManifest manifest = ParseManifest(bytes);
        return TAccepted{std::move(bytes), std::move(manifest)};
    } catch (const Exception& e) {
        // Fail closed: without the record, any older release would pass.
        throw EReleaseError(QStringLiteral("Registro da última versão aceita (%1) ilegível: %2").arg(path, e.Message()));
    }
}

// Why the release cannot follow the accepted one, or empty when it can.
QString Regression(const TAccepted& accepted, const QByteArray& bytes, const TManifest& manifest)
{
    const qint64 serial = accepted.Manifest.Serial;
    if (manifest.Serial < serial)
        return QStringLiteral("é mais antiga que a versão %1, já aceita nesta instalação").arg(serial);
    if (manifest.Serial == serial && bytes != accepted.Bytes)
        return QStringLiteral("tem o número da versão já aceita nesta instalação, mas outro manifesto; uma versão "
                              "nova precisa de um número maior");
    if (manifest.Expires.isEmpty() && !accepted.Manifest.Expires.isEmpty())
        return QStringLiteral("o manifesto não tem validade, e a versão %1, já aceita nesta instalação, tinha").arg(serial);
    return {};
}

void CheckFollows(const std::optional<TAccepted>& accepted, const QByteArray& manifest)
{
    const TManifest parsed = ParseManifest(manifest);
    if (!accepted)
        return;
    if (const QString why = Regression(*accepted, manifest, parsed); !why.isEmpty())
        throw EReleaseError(QStringLiteral("Versão %1 recusada: %2.").arg(parsed.Serial).arg(why));
}

} // namespace

std::optional<TManifest> LastAcceptedManifest(const QString& folder)
{
    std::optional<TAccepted> accepted = LastAccepted(folder);
    if (!accepted)
        return std::nullopt;
    return std::move(accepted->Manifest);
}

qint64 LastAcceptedSerial(const QString& folder)
{
    const std::optional<TManifest> accepted = LastAcceptedManifest(folder);
    return accepted ? accepted->Serial : 0;
}

void CheckAgainstAccepted(const QString& folder, const QByteArray& manifest)
{
    CheckFollows(LastAccepted(folder), manifest);
}

void CheckVerifiable(const QString& folder, const QList<TPublicKey>& keys)
{
    if (!keys.isEmpty() || !FileExists(AcceptedPath(folder)))
        return;
    throw EReleaseError(QStringLiteral("Esta instalação já aceitou uma versão assinada (%1), mas nenhuma chave da "
                                       "versão é confiável agora: o arquivo de chaves %2 não existe ou não traz nenhuma chave. Sem a chave a "
                                       "versão do servidor não pode ser conferida, e nada será instalado; restaure o "
                                       "arquivo de chaves.")
                            .arg(QString::fromLatin1(AcceptedReleaseName), ReleaseKeysFile()));
}

void AcceptRelease(const QString& folder, const QByteArray& manifest)
{
    const std::optional<TAccepted> accepted = LastAccepted(folder);
    CheckFollows(accepted, manifest);
    if (accepted && accepted->Bytes == manifest)
        return;
    WriteFileBytes(AcceptedPath(folder), manifest);
}
