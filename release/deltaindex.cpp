// The delta index: which patch rebuilds which file of the release from
// which earlier build, and how it is written and read.
#include "release/release.h"

#include "release/text.h"

#include <QSet>
#include <algorithm>

namespace {

const QByteArray Header = "zembo-deltas 1";
const QString Invalid = QStringLiteral("Índice de deltas inválido");
// The patch's name carries this much of the old build's hash, so that the
// patches of one file from several builds sit side by side.
constexpr qsizetype PatchHashDigits = 16;

EReleaseError BadLine(qsizetype line, const QString& why)
{
    return EReleaseError(QStringLiteral("%1 (linha %2): %3.").arg(Invalid).arg(line).arg(why));
}

// "OLD NEW SIZE PATCHSIZE NAME": the first four fields end at a blank, the
// name is the rest of the line.
TDeltaEntry ParseEntry(const QString& line, qsizetype number)
{
    QStringList fields;
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype blank = line.indexOf(u' ', from);
        if (blank < 0)
            throw BadLine(number, QStringLiteral("esperado \"SHA256_ANTIGO SHA256_NOVO TAMANHO TAMANHO_DELTA NOME\""));
        fields << line.mid(from, blank - from);
        from = blank + 1;
    }
    const std::optional<QByteArray> older = Sha256Hex(fields[0]);
    const std::optional<QByteArray> newer = Sha256Hex(fields[1]);
    if (!older || !newer)
        throw BadLine(number, QStringLiteral("SHA-256 deve ter 64 dígitos hexadecimais"));
    if (*older == *newer)
        throw BadLine(number, QStringLiteral("o delta não muda o arquivo"));
    const std::optional<qint64> size = Decimal(fields[2]);
    const std::optional<qint64> patchSize = Decimal(fields[3]);
    if (!size || !patchSize || *patchSize == 0)
        throw BadLine(number, QStringLiteral("tamanho inválido"));
    const QString name = line.mid(from);
    if (const QString fault = NameFault(name); !fault.isEmpty())
        throw BadLine(number, fault);
    return {*older, *newer, *size, *patchSize, name};
}

} // namespace

QString TDeltaEntry::PatchName() const
{
    return Name + u'.' + QString::fromLatin1(OldSha256.toHex().left(PatchHashDigits)) + QStringLiteral(".zst");
}

const TDeltaEntry* TDeltaIndex::Find(const QString& name, const QByteArray& oldSha256, const QByteArray& newSha256) const
{
    for (const TDeltaEntry& entry : Entries)
        if (entry.Name == name && entry.OldSha256 == oldSha256 && entry.NewSha256 == newSha256)
            return &entry;
    return nullptr;
}

std::optional<QByteArray> TDeltaIndex::NewHashOf(const QString& name) const
{
    for (const TDeltaEntry& entry : Entries)
        if (entry.Name == name)
            return entry.NewSha256;
    return std::nullopt;
}

QByteArray FormatDeltaIndex(const TDeltaIndex& index)
{
    QByteArray text = Header + "\nserial " + QByteArray::number(index.Serial) + "\n\n";
    for (const TDeltaEntry& entry : index.Entries)
        text += entry.OldSha256.toHex() + ' ' + entry.NewSha256.toHex() + ' ' + QByteArray::number(entry.NewSize) + ' ' +
                QByteArray::number(entry.PatchSize) + ' ' + entry.Name.toUtf8() + '\n';
    return text;
}

TDeltaIndex ParseDeltaIndex(const QByteArray& utf8)
{
    const QStringList lines = ReleaseTextLines(utf8, Invalid);
    if (lines.isEmpty() || lines[0].toUtf8() != Header)
        throw BadLine(1, QStringLiteral("esperado \"%1\"").arg(QString::fromLatin1(Header)));
    TDeltaIndex index;
    const std::optional<qint64> serial
        = lines.size() > 1 && lines[1].startsWith(QStringLiteral("serial ")) ? Decimal(lines[1].mid(7)) : std::nullopt;
    if (!serial || *serial <= 0)
        throw BadLine(2, QStringLiteral("esperado \"serial N\", N inteiro positivo"));
    index.Serial = *serial;
    if (lines.size() < 3 || !lines[2].isEmpty())
        throw BadLine(3, QStringLiteral("esperada uma linha em branco"));
    QSet<QString> seen;
    for (qsizetype i = 3; i < lines.size(); ++i) {
        TDeltaEntry entry = ParseEntry(lines[i], i + 1);
        if (seen.contains(entry.PatchName()))
            throw BadLine(i + 1, QStringLiteral("delta de \"%1\" listado duas vezes").arg(entry.Name));
        seen.insert(entry.PatchName());
        index.Entries.append(std::move(entry));
    }
    return index;
}
