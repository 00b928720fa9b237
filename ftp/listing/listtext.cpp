#include "ftp/listing/listtext.h"

#include "platform/errors.h"

#include <QHash>

namespace ftplist {

bool IsBlankLine(QStringView line)
{
    for (QChar c : line)
        if (c != u' ' && c != u'\t')
            return false;
    return true;
}

bool IsTotalLine(QStringView line)
{
    if (line.endsWith(u':'))
        return false;
    return line.startsWith(u"TOTAL", Qt::CaseInsensitive) || line.startsWith(u"GESAMT", Qt::CaseInsensitive)
        || line.startsWith(u"INSGESAMT", Qt::CaseInsensitive) || line.startsWith(u"\uCD1D")
        || line.startsWith(u"\u603B\u6570") || line.startsWith(u"\u5408\u8A08");
}

static bool OneOf(QChar c, const char16_t* set)
{
    for (; *set; ++set)
        if (c == QChar(*set))
            return true;
    return false;
}

bool IsUnixPermission(QStringView text)
{
    if (text.size() < 10)
        return false;
    QChar p[10];
    for (int i = 0; i < 10; ++i)
        p[i] = text[i].toUpper();
    static constexpr const char16_t* rwx = u"TSRWX-";
    return OneOf(p[0], u"LD-BCPS+IMW") && OneOf(p[1], rwx) && OneOf(p[5], rwx) && OneOf(p[8], rwx)
        && OneOf(p[9], rwx) && OneOf(p[2], u"TSRWX-A") && OneOf(p[7], u"TSRWX-A") && OneOf(p[3], u"TSRWX-L")
        && OneOf(p[4], u"TSRWX-H") && OneOf(p[6], u"TSRWX-YL");
}

bool IsSubDirBanner(QStringView line)
{
    return line.endsWith(u':') && !IsUnixPermission(line);
}

namespace {

// Rows in the order they are searched: a name of an earlier row wins.
const char16_t* const MonthRows[][12] = {
    {u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN", u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"},
    {nullptr, nullptr, nullptr, nullptr, nullptr, u"JUNE", u"JULY", nullptr, u"SEPT", nullptr, nullptr, nullptr},
    {nullptr, nullptr, u"MRZ", nullptr, u"MAI", nullptr, nullptr, nullptr, nullptr, u"OKT", nullptr, u"DEZ"},
    {u"ENO", u"FBRO", u"MZO", u"AB", nullptr, nullptr, nullptr, u"AGTO", u"SBRE", u"OBRE", u"NBRE", u"DBRE"},
    {nullptr, nullptr, u"MRT", nullptr, u"MEI", nullptr, nullptr, nullptr, nullptr, u"OKT", nullptr, nullptr},
    {u"JANV", u"F\u00C9V", u"MARS", u"AVR", u"MAI", u"JUIN", u"JUIL", u"AO\u00DB", u"SEPT", nullptr, nullptr,
     u"D\u00C9C"},
    {nullptr, u"F\u00C9VR", nullptr, nullptr, nullptr, nullptr, u"JUI", u"AO\u00DBT", nullptr, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, u"MAJ", nullptr, nullptr, u"AVG", nullptr, nullptr, nullptr, nullptr},
};

// A word of up to four characters packed into one key.
quint64 MonthKey(QStringView word)
{
    quint64 key = 0;
    for (QChar c : word)
        key = key << 16 | c.toUpper().unicode();
    return key;
}

const QHash<quint64, int>& MonthTable()
{
    static const QHash<quint64, int> table = [] {
        QHash<quint64, int> t;
        for (const auto& row : MonthRows)
            for (int m = 0; m < 12; ++m) {
                if (!row[m])
                    continue;
                const quint64 key = MonthKey(QStringView(row[m]));
                if (!t.contains(key))
                    t.insert(key, m + 1);
            }
        return t;
    }();
    return table;
}

} // namespace

int MonthFromName(QStringView word)
{
    if (word.size() < 2 || word.size() > 4)
        return 0;
    return MonthTable().value(MonthKey(word), 0);
}

bool TryParseNumber(QStringView text, qint64& value)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return false;
    quint64 v = 0;
    const quint64 limit = base == 10 ? quint64(INT64_MAX) + (negative ? 1 : 0) : UINT64_MAX;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return false;
        if (v > (limit - quint64(d)) / quint64(base))
            return false;
        v = v * quint64(base) + quint64(d);
    }
    value = negative ? qint64(0 - v) : qint64(v);
    return true;
}

qint64 NumberDef(QStringView text, qint64 def)
{
    qint64 v;
    return TryParseNumber(text.trimmed(), v) ? v : def;
}

int NumberOrFail(QStringView text)
{
    qint64 v;
    const QStringView t = text.trimmed();
    if (!TryParseNumber(t, v) || v < INT32_MIN || v > INT32_MAX)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(t));
    return int(v);
}

TWords SplitWords(QStringView line, int most)
{
    TWords words;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && words.size() < most) {
        while (i < n && line[i] == u' ')
            ++i;
        if (i == n)
            break;
        const qsizetype start = i;
        while (i < n && line[i] != u' ')
            ++i;
        words.append(line.mid(start, i - start));
    }
    return words;
}

QStringView TFieldBuffer::Peek() const
{
    qsizetype i = 0;
    while (i < FText.size() && FText[i] == u' ')
        ++i;
    const qsizetype start = i;
    while (i < FText.size() && FText[i] != u' ')
        ++i;
    return FText.mid(start, i - start);
}

QStringView TFieldBuffer::Take()
{
    qsizetype i = 0;
    while (i < FText.size() && FText[i] == u' ')
        ++i;
    const qsizetype start = i;
    while (i < FText.size() && FText[i] != u' ')
        ++i;
    const QStringView field = FText.mid(start, i - start);
    FText = FText.mid(i < FText.size() ? i + 1 : i);
    return field;
}

void TFieldBuffer::SkipBlanks()
{
    qsizetype i = 0;
    while (i < FText.size() && FText[i] == u' ')
        ++i;
    FText = FText.mid(i);
}

void TFieldBuffer::Prepend(const QString& text)
{
    Assign(text + FText.toString());
}

void TFieldBuffer::Assign(QString text)
{
    FOwned = std::move(text);
    FText = FOwned;
}

qsizetype TFieldBuffer::FieldsLength(int count) const
{
    qsizetype i = 0;
    for (int f = 0; f < count; ++f) {
        while (i < FText.size() && FText[i] == u' ')
            ++i;
        while (i < FText.size() && FText[i] != u' ')
            ++i;
    }
    return i;
}

QStringView ChopFirstAtEnd(QStringView field, QChar marker)
{
    if (!field.isEmpty() && field.indexOf(marker) == field.size() - 1)
        field.chop(1);
    return field;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time)
{
    return TDateTime(date.Value() < 0 ? date.Value() - time.Value() : date.Value() + time.Value());
}

} // namespace ftplist
