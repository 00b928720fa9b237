// The listing of the Windows FTP service (IIS) in its MS-DOS style.
#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"

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
    return w.size() > 4 && (w[2] == u"F" || w[2] == u"D") && (IsNumber(w[4]) || w[4] == u"-");
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
            const QString s = line.toUpper();
            const qsizetype dir = s.indexOf(u" <DIR> ");
            if (dir >= 21 && dir <= 25)
                dirSeen = true;
            QStringView sizeText = QStringView(s).mid(19, 19);
            if (sizeText.size() == 19 && IsDigit(sizeText[16]) && sizeText[17] == u' ')
                sizeText = sizeText.left(17);
            QString size = sizeText.toString().trimmed();
            size.remove(u',');
            const QStringView first8 = QStringView(s).left(8);
            const bool takesPart = IsMonthDayYear(first8, u'-') || IsMonthDayYear(first8, u'/')
                || StartsWithYearFirstDate(s) || IsMonthDayYear(s, u'-');
            if (takesPart && (dirSeen || NumberDef(size, -1) != -1))
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

bool TWindowsNTParser::ParseLine(TIdFTPListItem& item, const QString& path, const TListClock& clock) const
{
    const QString& line = item.Data();
    TFieldBuffer buf(line);
    QStringView timeText;
    qint64 year, month, day;
    if (line.size() >= 4 && AllDigits(QStringView(line).left(4)) && !(line.size() > 4 && IsDigit(line[4]))) {
        year = NumberDef(QStringView(line).mid(0, 4));
        month = NumberDef(QStringView(line).mid(5, 2));
        day = NumberDef(QStringView(line).mid(8, 2));
        buf.SetRest(QStringView(line).mid(10).trimmed());
        timeText = buf.Take();
    } else {
        const qsizetype blank = line.indexOf(u' ');
        QStringView dateText = blank >= 0 ? QStringView(line).left(blank) : QStringView(line);
        buf.SetRest(blank >= 0 ? QStringView(line).mid(blank + 1) : QStringView());
        buf.SkipBlanks();
        timeText = buf.Take();
        const QChar delimiter = FirstNonDigit(dateText);
        month = NumberDef(TakeNumberPart(dateText, delimiter));
        day = NumberDef(TakeNumberPart(dateText, delimiter));
        year = NumberDef(TakeNumberPart(dateText, delimiter));
    }
    if (year < 1000) {
        const qint64 century = clock.Year / 100 * 100;
        year = year > 50 ? century - 100 + year : century + year;
    }

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
    qint64 hour = NumberDef(TakeNumberPart(t, delimiter));
    const qint64 min = NumberDef(TakeNumberPart(t, delimiter));
    const qint64 sec = NumberDef(TakeNumberPart(t, delimiter));
    const qint64 msec = NumberDef(TakeNumberPart(t, delimiter));
    if (afternoon && hour < 12)
        hour += 12;
    if (morning && hour == 12)
        hour = 0;

    TDateTime date, dayTime;
    const auto fits = [](qint64 v) { return v >= 0 && v <= 9999; };
    const bool dated = fits(year) && fits(month) && fits(day) && fits(hour) && fits(min) && fits(sec)
        && fits(msec) && TryEncodeDate(int(year), int(month), int(day), date)
        && TryEncodeTime(int(hour), int(min), int(sec), int(msec), dayTime);
    item.SetModifiedDate(dated ? ComposeDateTime(date, dayTime) : TDateTime());

    QString name;
    for (;;) {
        buf.SetRest(buf.Rest().trimmed());
        QString field = buf.Take().toString();
        field.remove(u',');
        if (field.compare(u"<DIR>", Qt::CaseInsensitive) == 0) {
            item.SetItemType(ditDirectory);
            item.SetSizeAvail(false);
            const QStringView r = buf.Rest();
            if (r.startsWith(QStringLiteral("                 ")))
                name = r.mid(17).toString();
            else if (r.startsWith(u"         "))
                name = r.mid(9).toString();
            else
                name = r.toString();
            break;
        }
        // A separate AM/PM word after the time; an impossible date stays 0.
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
        name = buf.Rest().toString();
        break;
    }

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
