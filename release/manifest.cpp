// The release manifest: what it holds, how it is written and read, and how a
// folder compares with it.
#include "release/release.h"

#include "release/crypto.h"
#include "release/text.h"

#include "platform/files.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cctype>

QString NameFault(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("nome de arquivo vazio");
    if (name == u"." || name == u"..")
        return QStringLiteral("nome de arquivo \"%1\" não permitido").arg(name);
    for (QChar c : name) {
        if (c == u'/' || c == u'\\')
            return QStringLiteral("nome de arquivo com separador de pastas");
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("nome de arquivo com caractere de controle");
    }
    return {};
}

std::optional<qint64> Decimal(const QString& text)
{
    if (text.isEmpty() || text.size() > 18
        || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    return text.toLongLong();
}

std::optional<QByteArray> Sha256Hex(const QString& hex)
{
    if (hex.size() != 64 || !std::all_of(hex.begin(), hex.end(), [](QChar c) { return c.unicode() < 128 && std::isxdigit(c.unicode()); }))
        return std::nullopt;
    return QByteArray::fromHex(hex.toLatin1());
}

QStringList ReleaseTextLines(const QByteArray& utf8, const QString& invalid)
{
    if (utf8.size() > MaxReleaseFileSize)
        throw EReleaseError(QStringLiteral("%1: maior que %2 bytes.").arg(invalid).arg(MaxReleaseFileSize));
    if (!utf8.endsWith('\n'))
        throw EReleaseError(QStringLiteral("%1: incompleto (sem fim de linha no final).").arg(invalid));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(utf8);
    if (decoder.hasError())
        throw EReleaseError(QStringLiteral("%1: o texto não é UTF-8.").arg(invalid));
    QStringList lines = text.split(u'\n');
    lines.removeLast(); // after the final line end
    return lines;
}

namespace {

const QByteArray Header = "zembo-release 1";

EReleaseError BadLine(qsizetype line, const QString& why)
{
    return EReleaseError(QStringLiteral("Manifesto da versão inválido (linha %1): %2.").arg(line).arg(why));
}

// "KEY VALUE" for the header lines.
QString HeaderValue(const QString& line, const QString& key, qsizetype number)
{
    if (!line.startsWith(key + u' '))
        throw BadLine(number, QStringLiteral("esperado \"%1 ...\"").arg(key));
    return line.mid(key.size() + 1);
}

bool IsIsoDate(const QString& text)
{
    return text.size() == 10 && QDate::fromString(text, Qt::ISODate).isValid();
}

// The header lines after the date, up to the blank line, whose index is
// returned: "KEY VALUE" each, those of keys not known here skipped, so that
// a later header keeps working with installed updaters.
qsizetype ParseFurtherHeader(const QStringList& lines, TManifest& manifest)
{
    for (qsizetype i = 3; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.isEmpty())
            return i;
        const qsizetype space = line.indexOf(u' ');
        if (space <= 0)
            throw BadLine(i + 1, QStringLiteral("esperado \"CHAVE VALOR\" ou uma linha em branco"));
        const QString key = line.left(space);
        if (key == u"serial" || key == u"date" || (key == u"expires" && !manifest.Expires.isEmpty()))
            throw BadLine(i + 1, QStringLiteral("\"%1\" repetido").arg(key));
        if (key != u"expires")
            continue;
        manifest.Expires = line.mid(space + 1);
        if (!IsIsoDate(manifest.Expires))
            throw BadLine(i + 1, QStringLiteral("validade inválida, esperado AAAA-MM-DD"));
    }
    throw BadLine(lines.size() + 1, QStringLiteral("esperada uma linha em branco"));
}

TManifestEntry ParseEntry(const QString& line, qsizetype number)
{
    const qsizetype afterHash = line.indexOf(u' ');
    const qsizetype afterSize = afterHash < 0 ? -1 : line.indexOf(u' ', afterHash + 1);
    if (afterSize < 0)
        throw BadLine(number, QStringLiteral("esperado \"SHA256 TAMANHO NOME\""));
    const std::optional<QByteArray> sha256 = Sha256Hex(line.left(afterHash));
    if (!sha256)
        throw BadLine(number, QStringLiteral("SHA-256 deve ter 64 dígitos hexadecimais"));
    const std::optional<qint64> size = Decimal(line.mid(afterHash + 1, afterSize - afterHash - 1));
    if (!size)
        throw BadLine(number, QStringLiteral("tamanho inválido"));
    const QString name = line.mid(afterSize + 1);
    if (const QString fault = NameFault(name); !fault.isEmpty())
        throw BadLine(number, fault);
    return {name, *size, *sha256};
}

// The regular files a release folder holds, the manifest's own two aside,
// sorted by name.
QStringList ReleaseFileNames(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    names.removeAll(QString::fromLatin1(ReleaseManifestName));
    names.removeAll(QString::fromLatin1(ReleaseSignatureName));
    std::sort(names.begin(), names.end());
    return names;
}

QDate LocalToday()
{
    return Today().ToQDateTime().date();
}

} // namespace

std::optional<qint64> DaysUntilExpiry(const TManifest& manifest)
{
    if (manifest.Expires.isEmpty())
        return std::nullopt;
    return LocalToday().daysTo(QDate::fromString(manifest.Expires, Qt::ISODate));
}

void CheckNotExpired(const TManifest& manifest)
{
    const std::optional<qint64> days = DaysUntilExpiry(manifest);
    if (days && *days <= 0)
        throw EReleaseError(QStringLiteral("Versão %1 recusada: o manifesto assinado expirou em %2. O servidor pode "
                                           "estar desatualizado, escondendo uma versão mais nova; nada foi instalado.")
                                .arg(manifest.Serial)
                                .arg(ExpiryText(manifest)));
}

QString ExpiryText(const TManifest& manifest)
{
    return QDate::fromString(manifest.Expires, Qt::ISODate).toString(QStringLiteral("dd/MM/yyyy"));
}

const TManifestEntry* TManifest::Find(const QString& name) const
{
    for (const TManifestEntry& entry : Files)
        if (entry.Name == name)
            return &entry;
    return nullptr;
}

TManifest MakeManifest(const QString& folder, qint64 serial, int expiresInDays)
{
    if (serial <= 0)
        throw EReleaseError(QStringLiteral("O número da versão deve ser um inteiro positivo."));
    if (expiresInDays < 0)
        throw EReleaseError(QStringLiteral("O prazo de validade deve ser um número positivo de dias."));
    const QDate today = LocalToday();
    TManifest manifest{serial, today.toString(Qt::ISODate), {},
                       expiresInDays > 0 ? today.addDays(expiresInDays).toString(Qt::ISODate) : QString()};
    for (const QString& name : ReleaseFileNames(folder)) {
        if (const QString fault = NameFault(name); !fault.isEmpty())
            throw EReleaseError(QStringLiteral("O manifesto não pode listar \"%1\": %2.").arg(name, fault));
        const QString path = QDir(folder).filePath(name);
        manifest.Files.append({name, QFileInfo(path).size(), Sha256OfFile(path)});
    }
    return manifest;
}

QByteArray FormatManifest(const TManifest& manifest)
{
    QByteArray text = Header + "\nserial " + QByteArray::number(manifest.Serial) + "\ndate " + manifest.Date.toUtf8() + '\n';
    if (!manifest.Expires.isEmpty())
        text += "expires " + manifest.Expires.toUtf8() + '\n';
    text += '\n';
    for (const TManifestEntry& entry : manifest.Files)
        text += entry.Sha256.toHex() + ' ' + QByteArray::number(entry.Size) + ' ' + entry.Name.toUtf8() + '\n';
    return text;
}

TManifest ParseManifest(const QByteArray& utf8)
{
    const QStringList lines = ReleaseTextLines(utf8, QStringLiteral("Manifesto da versão inválido"));
    if (lines.size() < 3 || lines[0].toUtf8() != Header)
        throw BadLine(1, QStringLiteral("esperado \"%1\"").arg(QString::fromLatin1(Header)));

    TManifest manifest;
    const std::optional<qint64> serial = Decimal(HeaderValue(lines[1], QStringLiteral("serial"), 2));
    if (!serial || *serial <= 0)
        throw BadLine(2, QStringLiteral("o número da versão deve ser um inteiro positivo"));
    manifest.Serial = *serial;
    manifest.Date = HeaderValue(lines[2], QStringLiteral("date"), 3);
    if (!IsIsoDate(manifest.Date))
        throw BadLine(3, QStringLiteral("data inválida, esperado AAAA-MM-DD"));
    const qsizetype blank = ParseFurtherHeader(lines, manifest);

    QSet<QString> seen;
    for (qsizetype i = blank + 1; i < lines.size(); ++i) {
        TManifestEntry entry = ParseEntry(lines[i], i + 1);
        if (seen.contains(entry.Name))
            throw BadLine(i + 1, QStringLiteral("\"%1\" listado duas vezes").arg(entry.Name));
        seen.insert(entry.Name);
        manifest.Files.append(std::move(entry));
    }
    return manifest;
}

QByteArray Sha256OfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    InitSodium();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0)
            throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
        if (n == 0)
            break;
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(block.constData()), quint64(n));
    }
    QByteArray digest(crypto_hash_sha256_BYTES, Qt::Uninitialized);
    crypto_hash_sha256_final(&state, reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

std::optional<TDifferenceKind> FileDifference(const TManifestEntry& entry, const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return dkMissing;
    if (info.size() != entry.Size)
        return dkSize;
    if (Sha256OfFile(path) != entry.Sha256)
        return dkSha256;
    return std::nullopt;
}

QList<TFileDifference> DifferingFiles(const TManifest& manifest, const QString& folder, bool withUnlisted)
{
    QList<TFileDifference> differences;
    const QDir dir(folder);
    for (const TManifestEntry& entry : manifest.Files)
        if (const std::optional<TDifferenceKind> kind = FileDifference(entry, dir.filePath(entry.Name)))
            differences.append({entry.Name, *kind});
    if (withUnlisted)
        for (const QString& name : ReleaseFileNames(folder))
            if (!manifest.Find(name))
                differences.append({name, dkUnlisted});
    return differences;
}
