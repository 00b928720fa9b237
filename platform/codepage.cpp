#include "platform/codepage.h"

#include <QHash>
#include <QStringDecoder>
#include <array>

namespace {

// Single-byte code pages only (the Windows ANSI pages of the Latin, Cyrillic
// and Greek families). Both directions are tables built once from the decoder.
struct TCodePageTables {
    std::array<char16_t, 256> ToUnicode {};
    QHash<char16_t, char> FromUnicode;

    TCodePageTables()
    {
        QStringDecoder decoder(AnsiCodePageName().toLatin1().constData());
        if (!decoder.isValid())
            decoder = QStringDecoder("windows-1252");
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            const QString unit = decoder.decode(QByteArrayView(&byte, 1));
            ToUnicode[b] = unit.size() == 1 ? unit.at(0).unicode() : char16_t(b);
            FromUnicode.insert(ToUnicode[b], byte);
        }
    }
};

const TCodePageTables& Tables()
{
    static const TCodePageTables tables;
    return tables;
}

} // namespace

QString AnsiCodePageName()
{
    const QByteArray name = qgetenv("ZEMBO_ANSI_CODEPAGE");
    return name.isEmpty() ? QStringLiteral("windows-1252") : QString::fromLatin1(name);
}

QByteArray ToAnsi(const QString& text)
{
    const auto& t = Tables();
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(t.FromUnicode.value(c.unicode(), '?'));
    return out;
}

QString FromAnsi(const QByteArray& bytes)
{
    const auto& t = Tables();
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* p = out.data();
    for (char b : bytes)
        *p++ = QChar(t.ToUnicode[uchar(b)]);
    return out;
}
