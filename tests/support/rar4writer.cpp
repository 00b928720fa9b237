#include "tests/support/rar4writer.h"

#include "platform/codepage.h"
#include "tests/support/testenv.h"

#include <array>
#include <stdexcept>

namespace {

quint32 Crc32(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : bytes)
        crc = table[(crc ^ static_cast<quint8>(b)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void Put16(QByteArray& out, quint32 v)
{
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
}

void Put32(QByteArray& out, quint32 v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

quint32 DosTime(const QDateTime& local)
{
    const QDate d = local.date();
    const QTime t = local.time();
    if (d.year() < 1980 || d.year() > 2107)
        throw std::invalid_argument("RAR entry time outside 1980..2107");
    return quint32(d.year() - 1980) << 25 | quint32(d.month()) << 21 | quint32(d.day()) << 16
        | quint32(t.hour()) << 11 | quint32(t.minute()) << 5 | quint32(t.second() / 2);
}

// A block: HEAD_CRC (low half of the CRC32 of everything after it), then the
// header fields from HEAD_TYPE on, HEAD_SIZE patched in.
QByteArray Block(quint8 type, quint16 flags, const QByteArray& fields)
{
    QByteArray head;
    head.append(char(type));
    Put16(head, flags);
    Put16(head, quint32(2 + 1 + 2 + 2 + fields.size()));
    head.append(fields);
    QByteArray block;
    Put16(block, Crc32(head) & 0xFFFF);
    return block + head;
}

constexpr quint8 kMainHead = 0x73, kFileHead = 0x74, kEndHead = 0x7B;
constexpr quint16 kLongBlock = 0x8000, kSkipIfUnknown = 0x4000, kFolderWindow = 0x00E0;
constexpr quint8 kHostWin32 = 2, kVersion29 = 29, kStored = 0x30;
constexpr quint32 kAttrArchive = 0x20, kAttrFolder = 0x10;

} // namespace

QByteArray Rar4Archive(const QList<TRar4Entry>& entries)
{
    QByteArray out = QByteArray::fromHex("526172211a0700"); // "Rar!" marker block
    out += Block(kMainHead, 0, QByteArray(6, '\0'));    // RESERVED1, RESERVED2
    for (const TRar4Entry& e : entries) {
        QByteArray name = ToAnsi(e.Name);
        name.replace('/', '\\');
        const QByteArray data = e.IsFolder ? QByteArray() : e.Data;
        QByteArray f;
        Put32(f, quint32(data.size())); // PACK_SIZE
        Put32(f, quint32(data.size())); // UNP_SIZE
        f.append(char(kHostWin32));
        Put32(f, Crc32(data));
        Put32(f, DosTime(e.Modified));
        f.append(char(kVersion29));
        f.append(char(kStored));
        Put16(f, quint32(name.size()));
        Put32(f, e.IsFolder ? kAttrFolder : kAttrArchive);
        f.append(name);
        out += Block(kFileHead, kLongBlock | (e.IsFolder ? kFolderWindow : 0), f);
        out += data;
    }
    out += Block(kEndHead, kSkipIfUnknown, QByteArray());
    return out;
}

void WriteRar4(const QString& path, const QList<TRar4Entry>& entries)
{
    WriteBytes(path, Rar4Archive(entries));
}
