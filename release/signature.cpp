// minisign public keys and signatures, checked with libsodium.
//
// A public key line is base64 of "Ed", the 8-byte key id and the 32-byte
// Ed25519 key. A signature file has four lines: an untrusted comment, base64
// of the algorithm ("Ed": the message signed as it is; "ED": its BLAKE2b-512
// hash signed), the key id and the 64-byte signature, then
// "trusted comment: TEXT", then base64 of the global signature over the
// signature bytes followed by TEXT.
#include "release/release.h"

#include "release/crypto.h"

#include "platform/files.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <stdexcept>

namespace {

const QByteArray UntrustedPrefix = "untrusted comment:";
const QByteArray TrustedPrefix = "trusted comment: ";
constexpr qsizetype KeyIdBytes = 8;

std::optional<QByteArray> Base64(const QByteArray& text)
{
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

QString KeyIdText(const QByteArray& keyId)
{
    // As minisign prints it in a public key's comment: the id read as a
    // little-endian 64-bit number, upper-case hex without leading zeros.
    quint64 id = 0;
    for (qsizetype i = keyId.size() - 1; i >= 0; --i)
        id = id << 8 | quint8(keyId[i]);
    return QString::number(id, 16).toUpper();
}

const unsigned char* Bytes(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

bool Verifies(const QByteArray& signature, const QByteArray& message, const QByteArray& key)
{
    return crypto_sign_verify_detached(Bytes(signature), Bytes(message), quint64(message.size()), Bytes(key)) == 0;
}

QByteArray Blake2b512(const QByteArray& message)
{
    QByteArray hash(64, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), size_t(hash.size()), Bytes(message),
                       quint64(message.size()), nullptr, 0);
    return hash;
}

struct TSignatureFile {
    QByteArray Algorithm; // "Ed" or "ED"
    QByteArray KeyId;
    QByteArray Signature;
    QByteArray TrustedComment;
    QByteArray GlobalSignature;
};

// How the errors name what was signed: the release's manifest or the delta index.
struct TSignedTexts {
    QString Of;            // "da versão"
    QString SignedBy;      // "Versão assinada"
    QString Document;      // "o manifesto"
    QString SignatureName; // its file
};

const TSignedTexts ManifestTexts{QStringLiteral("da versão"), QStringLiteral("Versão assinada"),
                                 QStringLiteral("o manifesto"), QString::fromLatin1(ReleaseSignatureName)};
const TSignedTexts DeltaIndexTexts{QStringLiteral("do índice de deltas"), QStringLiteral("Índice de deltas assinado"),
                                   QStringLiteral("o índice"), QString::fromLatin1(DeltaSignatureName)};

EReleaseError UnreadableSignature(const TSignedTexts& texts, const QString& why)
{
    return EReleaseError(QStringLiteral("Assinatura %1 ilegível: %2.").arg(texts.Of, why));
}

TSignatureFile ParseSignatureFile(const QByteArray& text, const TSignedTexts& texts)
{
    if (text.trimmed().isEmpty())
        throw EReleaseError(QStringLiteral("Assinatura %1 ausente (%2).").arg(texts.Of, texts.SignatureName));
    const auto Unreadable = [&](const QString& why) { return UnreadableSignature(texts, why); };
    if (text.size() > MaxReleaseFileSize)
        throw Unreadable(QStringLiteral("maior que %1 bytes").arg(MaxReleaseFileSize));
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4 || !lines[0].startsWith(UntrustedPrefix) || !lines[2].startsWith(TrustedPrefix))
        throw Unreadable(QStringLiteral("não está no formato do minisign"));
    const std::optional<QByteArray> signature = Base64(lines[1]);
    if (!signature || signature->size() != 2 + KeyIdBytes + crypto_sign_BYTES
        || (!signature->startsWith("Ed") && !signature->startsWith("ED")))
        throw Unreadable(QStringLiteral("linha da assinatura inválida"));
    const std::optional<QByteArray> global = Base64(lines[3]);
    if (!global || global->size() != crypto_sign_BYTES)
        throw Unreadable(QStringLiteral("assinatura do comentário confiável inválida"));
    return {signature->left(2), signature->mid(2, KeyIdBytes), signature->mid(2 + KeyIdBytes),
            lines[2].mid(TrustedPrefix.size()), *global};
}

// Key lines of one key file; the configured keys come as one line each.
QList<TPublicKey> KeysOfFile(const QString& path)
{
    // A trusted key must not be changeable by whoever it protects against:
    // read as root, a file (or a folder above it) another user could rewrite,
    // rename or replace would let that user install a release of their own.
    std::optional<QByteArray> text;
    try {
        text = ReadProtectedFile(path);
    } catch (const EExposedFile& e) {
        const QString what = e.Path() == QFileInfo(path).canonicalFilePath() ? QStringLiteral("alterá-lo")
                                                                             : QStringLiteral("alterar a pasta %1").arg(e.Path());
        throw EReleaseError(QStringLiteral("Arquivo de chaves da versão %1 recusado: outro usuário além do root pode "
                                           "%2 (dono %3, modo %4). Deixe-o do root, sem escrita para grupo e outros, "
                                           "em pastas do root sem escrita para grupo e outros.")
                                .arg(path, what)
                                .arg(e.Access().OwnerId)
                                .arg(e.Access().Mode, 3, 8, QChar(u'0')));
    } catch (const Exception& e) {
        throw EReleaseError(QStringLiteral("Arquivo de chaves da versão %1 ilegível: %2").arg(path, e.Message()));
    }
    if (!text)
        return {};
    try {
        return ParsePublicKeys(*text);
    } catch (const EReleaseError& e) {
        throw EReleaseError(QStringLiteral("%1: %2").arg(path, e.Message()));
    }
}

} // namespace

void InitSodium()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

QList<TPublicKey> ParsePublicKeys(const QByteArray& text)
{
    QList<TPublicKey> keys;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(UntrustedPrefix))
            continue;
        const std::optional<QByteArray> key = Base64(line);
        if (!key || key->size() != 2 + KeyIdBytes + crypto_sign_PUBLICKEYBYTES || !key->startsWith("Ed"))
            throw EReleaseError(QStringLiteral("Chave pública da versão ilegível (linha %1).").arg(i + 1));
        keys.append({key->mid(2, KeyIdBytes), key->mid(2 + KeyIdBytes)});
    }
    return keys;
}

QList<TPublicKey> TrustedKeys(const QByteArray& compiledIn)
{
    InitSodium();
    QList<TPublicKey> keys;
    try {
        keys = ParsePublicKeys(QString::fromLatin1(compiledIn)
                                   .split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts)
                                   .join(u'\n')
                                   .toLatin1());
    } catch (const EReleaseError& e) {
        throw EReleaseError(QStringLiteral("Chaves compiladas no programa: %1").arg(e.Message()));
    }
    keys += KeysOfFile(ReleaseKeysFile());
    return keys;
}

QString ReleaseKeysFile()
{
    const QByteArray named = qgetenv("ZEMBO_RELEASE_KEYS");
    return named.isEmpty() ? QStringLiteral("/etc/zemboupdate/release-keys.pub") : QFile::decodeName(named);
}

namespace {

// The signature of message checked with the trusted keys; raises EReleaseError.
TSignatureFile CheckSignature(const QByteArray& message, const QByteArray& signature, const QList<TPublicKey>& trusted,
                              const TSignedTexts& texts)
{
    InitSodium();
    const TSignatureFile file = ParseSignatureFile(signature, texts);
    const auto key = std::find_if(trusted.begin(), trusted.end(), [&](const TPublicKey& k) { return k.KeyId == file.KeyId; });
    if (key == trusted.end())
        throw EReleaseError(QStringLiteral("%1 por uma chave desconhecida (%2).").arg(texts.SignedBy, KeyIdText(file.KeyId)));
    const QByteArray signedMessage = file.Algorithm == "ED" ? Blake2b512(message) : message;
    if (!Verifies(file.Signature, signedMessage, key->Key))
        throw EReleaseError(QStringLiteral("Assinatura %1 inválida: %2 não confere com a assinatura.").arg(texts.Of, texts.Document));
    if (!Verifies(file.GlobalSignature, file.Signature + file.TrustedComment, key->Key))
        throw EReleaseError(QStringLiteral("Assinatura %1 inválida: o comentário confiável foi alterado.").arg(texts.Of));
    return file;
}

} // namespace

TDeltaIndex VerifyDeltaIndex(const QByteArray& index, const QByteArray& signature, const QList<TPublicKey>& trusted)
{
    if (index.isEmpty())
        throw EReleaseError(QStringLiteral("Índice de deltas ausente (%1).").arg(QString::fromLatin1(DeltaIndexName)));
    CheckSignature(index, signature, trusted, DeltaIndexTexts);
    return ParseDeltaIndex(index);
}

TSignedRelease VerifyRelease(const QByteArray& manifest, const QByteArray& signature, const QList<TPublicKey>& trusted)
{
    if (manifest.isEmpty())
        throw EReleaseError(QStringLiteral("Manifesto da versão ausente (%1).").arg(QString::fromLatin1(ReleaseManifestName)));
    const TSignatureFile file = CheckSignature(manifest, signature, trusted, ManifestTexts);
    TSignedRelease release{ParseManifest(manifest), KeyIdText(file.KeyId), QString::fromUtf8(file.TrustedComment)};
    CheckNotExpired(release.Manifest);
    return release;
}
