// The listing of the Windows FTP service (IIS) in its MS-DOS style.
#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"

#include <QVarLengthArray>

namespace ftplist {

namespace {

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool AllDigits(QStringView text)
{
    for (QChar c : text)
        if (!IsDigit(c))
            return false;
    return !text.isEmpty();
}

// "mm-dd-yy" and the like: exactly three parts, a month, a day, a number.
bool IsMonthDayYear(QStringView text, QChar delimiter)
{
    QStringView parts[3];
    int count = 0;
    for (QStringView part : text.tokenize(delimiter)) {
        if (count == 3)
            return false;
        parts[count++] = part;
    }
    if (count != 3)
        return false;
    const qint64 month = NumberDef(parts[0], -1);
    const qint64 day = NumberDef(parts[1], -1);
    return month >= 1 && month <= 12 && day >= 1 && day <= 32 && IsNumber(parts[2]);
}

bool IsDateDelimiter(QChar c)
{
    return c == u'/' || c == u'-';
}

bool StartsWithYearFirstDate(QStringView s)
{
    if (s.size() >= 10 && IsDateDelimiter(s[4]) && IsDateDelimiter(s[7]) && AllDigits(s.mid(0, 4))
        && AllDigits(s.mid(5, 2)) && AllDigits(s.mid(8, 2)))
        return true;
    return s.size() >= 8 && IsDateDelimiter(s[2]) && IsDateDelimiter(s[5]) && AllDigits(s.mid(0, 2))
        && AllDigits(s.mid(3, 2)) && AllDigits(s.mid(6, 2));
}

// Some servers add attribute columns ("F"/"D" and a size or "-") that make
// a line look like this format without being it.
bool HasFlagColumns(QStringView s)
{
    const TWords w = SplitWords(s, 5);
    return w.size() > 4 && (w[2].compare(u"F", Qt::CaseInsensitive) == 0 || w[2].compare(u"D", Qt::CaseInsensitive) == 0) && (IsNumber(w[4]) || w[4] == u"-");
}

// The part of a numeric field before its first non-digit, read as a number.
QStringView TakeNumberPart(QStringView& text, QChar delimiter)
{
    const qsizetype at = delimiter.isNull() ? -1 : text.indexOf(delimiter);
    const QStringView part = at >= 0 ? text.left(at) : text;
    text = at >= 0 ? text.mid(at + 1) : QStringView();
    return part;
}

QChar FirstNonDigit(QStringView text)
{
    for (QChar c : text)
        if (!IsDigit(c))
            return c;
    return QChar();
}

class TWindowsNTParser : public TIdFTPListParser {
public:
    QString Ident() const override { return QStringLiteral("Windows NT"); }

    bool Recognise(const QStringList& lines, const QString&, bool) const override
    {
        bool result = false;
        bool dirSeen = false;
        for (const QString& line : lines) {
            if (IsBlankLine(line) || IsSubDirBanner(line))
                continue;
            // Only digits, blanks and "<DIR>" are looked at, so case is ignored in place.
            const QStringView s(line);
            const qsizetype dir = s.indexOf(u" <DIR> ", 0, Qt::CaseInsensitive);
            if (dir >= 21 && dir <= 25)
                dirSeen = true;
            QStringView sizeText = s.mid(19, 19);
            if (sizeText.size() == 19 && IsDigit(sizeText[16]) && sizeText[17] == u' ')
                sizeText = sizeText.left(17);
            QVarLengthArray<QChar, 20> size;
            for (QChar c : sizeText)
                if (c != u',')
                    size.append(c);
            const QStringView first8 = s.left(8);
            const bool takesPart = IsMonthDayYear(first8, u'-') || IsMonthDayYear(first8, u'/')
                || StartsWithYearFirstDate(s) || IsMonthDayYear(s, u'-');
            if (takesPart && (dirSeen || NumberDef(QStringView(size.data(), size.size()), -1) != -1))
                result = !HasFlagColumns(s);
        }
        return result;
    }

    std::unique_ptr<TIdFTPListItem> MakeItem() const override
    {
        return std::make_unique<TIdWindowsNTFTPListItem>();
    }

    void ParseListing(const QStringList& lines, TIdFTPListItems& items, const TListClock& clock) const override
    {
        QString path;
        for (const QString& line : lines) {
            if (IsBlankLine(line))
                continue;
            if (IsSubDirBanner(line)) {
                path = line.chopped(1);
                continue;
            }
            AddLine(line, path, items, clock);
        }
    }

    bool ParseLine(TIdFTPListItem& item, const QString& path, const TListClock& clock) const override;
};

// The date of a line as written, and the text of its time.
struct TNTDate {
    qint64 Year = 0, Month = 0, Day = 0;
    QStringView Time;
};

// 1. Date and time texts: a year-first date, or month-day-year up to the
// first blank. Leaves the buffer after the time.
TNTDate ReadDateAndTime(QStringView line, TFieldBuffer& buf)
{
    TNTDate d;
    if (line.size() >= 4 && AllDigits(line.left(4)) && !(line.size() > 4 && IsDigit(line[4]))) {
        d.Year = NumberDef(line.mid(0, 4));
        d.Month = NumberDef(line.mid(5, 2));
        d.Day = NumberDef(line.mid(8, 2));
        buf.SetRest(line.mid(10).trimmed());
        d.Time = buf.Take();
        return d;
    }
    const qsizetype blank = line.indexOf(u' ');
    QStringView dateText = blank >= 0 ? line.left(blank) : line;
    buf.SetRest(blank >= 0 ? line.mid(blank + 1) : QStringView());
    buf.SkipBlanks();
    d.Time = buf.Take();
    const QChar delimiter = FirstNonDigit(dateText);
    d.Month = NumberDef(TakeNumberPart(dateText, delimiter));
    d.Day = NumberDef(TakeNumberPart(dateText, delimiter));
    d.Year = NumberDef(TakeNumberPart(dateText, delimiter));
    return d;
}

// A two-digit year in the client's century, or the one before above 50.
qint64 CompleteYear(qint64 year, const TListClock& clock)
{
    if (year >= 1000)
        return year;
    const qint64 century = clock.Year / 100 * 100;
    return year > 50 ? century - 100 + year : century + year;
}

struct TNTTime {
    qint64 Hour = 0, Min = 0, Sec = 0, MSec = 0;
};

// "10:00PM", "12:15AM", "10:00": a 12-hour clock when marked.
TNTTime ReadTimeOfDay(QStringView timeText)
{
    QString time = timeText.toString().toUpper();
    bool afternoon = false, morning = false;
    for (const auto& [marker, pm] : {std::pair{u"PM", true}, {u"AM", false}, {u"P", true}, {u"A", false}}) {
        const qsizetype at = time.indexOf(QStringView(marker));
        if (at >= 0) {
            time.truncate(at);
            afternoon = pm;
            morning = !pm;
        }
    }
    QStringView t = QStringView(time).trimmed();
    const QChar delimiter = FirstNonDigit(timeText);
    TNTTime result;
    result.Hour = NumberDef(TakeNumberPart(t, delimiter));
    result.Min = NumberDef(TakeNumberPart(t, delimiter));
    result.Sec = NumberDef(TakeNumberPart(t, delimiter));
    result.MSec = NumberDef(TakeNumberPart(t, delimiter));
    if (afternoon && result.Hour < 12)
        result.Hour += 12;
    if (morning && result.Hour == 12)
        result.Hour = 0;
    return result;
}

// 2. The date plus the time of day; false when they cannot be formed.
bool EncodeModified(const TNTDate& d, const TListClock& clock, TDateTime& result)
{
    const qint64 year = CompleteYear(d.Year, clock);
    const TNTTime t = ReadTimeOfDay(d.Time);
    TDateTime date, dayTime;
    const auto fits = [](qint64 v) { return v >= 0 && v <= 9999; };
    if (!(fits(year) && fits(d.Month) && fits(d.Day) && fits(t.Hour) && fits(t.Min) && fits(t.Sec)
          && fits(t.MSec) && TryEncodeDate(int(year), int(d.Month), int(d.Day), date)
          && TryEncodeTime(int(t.Hour), int(t.Min), int(t.Sec), int(t.MSec), dayTime)))
        return false;
    result = ComposeDateTime(date, dayTime);
    return true;
}

// A "<DIR>" entry's name after its column of blanks.
QString DirectoryName(QStringView rest)
{
    if (rest.startsWith(QStringLiteral("                 ")))
        return rest.mid(17).toString();
    if (rest.startsWith(u"         "))
        return rest.mid(9).toString();
    return rest.toString();
}

// 3. "<DIR>" or the size, after any separate AM/PM words; gives the name.
// An impossible date stays 0 whatever the words say.
QString ReadSizeAndName(TFieldBuffer& buf, TIdFTPListItem& item, bool dated)
{
    for (;;) {
        buf.SetRest(buf.Rest().trimmed());
        QString field = buf.Take().toString();
        field.remove(u',');
        if (field.compare(u"<DIR>", Qt::CaseInsensitive) == 0) {
            item.SetItemType(ditDirectory);
            item.SetSizeAvail(false);
            return DirectoryName(buf.Rest());
        }
        if (field.compare(u"AM", Qt::CaseInsensitive) == 0) {
            if (dated && DecodeTime(item.ModifiedDate()).Hour == 12)
                item.SetModifiedDate(item.ModifiedDate() + -0.5);
            continue;
        }
        if (field.compare(u"PM", Qt::CaseInsensitive) == 0) {
            if (dated && DecodeTime(item.ModifiedDate()).Hour < 12)
                item.SetModifiedDate(item.ModifiedDate() + 0.5);
            continue;
        }
        item.SetItemType(ditFile);
        item.SetSize(NumberDef(field));
        return buf.Rest().toString();
    }
}

bool TWindowsNTParser::ParseLine(TIdFTPListItem& item, const QString& path, const TListClock& clock) const
{
    TFieldBuffer buf(item.Data());
    const TNTDate written = ReadDateAndTime(item.Data(), buf);
    TDateTime modified;
    const bool dated = EncodeModified(written, clock, modified);
    item.SetModifiedDate(modified);
    QString name = ReadSizeAndName(buf, item, dated);

    // 4. The sub-directory path.
    if (!path.isEmpty()) {
        item.SetLocalFileName(name);
        name = path + u'\\' + name;
        if (name.startsWith(u".\\"))
            name.remove(0, 2);
    }
    item.SetFileName(name);
    return true;
}

} // namespace

const TIdFTPListParser& WindowsNTParser()
{
    static const TWindowsNTParser parser;
    return parser;
}

} // namespace ftplist
