// The long listing of Unix-like servers ("ls -l" and its many variants), and
// Unitree, which writes the same lines with an extra column.
#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"

#include <algorithm>

namespace ftplist {

bool IsUnixLine(QStringView line)
{
    if (IsUnixPermission(line)) {
        const QChar type = line[0].toUpper();
        if (type == u'C' || type == u'B')
            return true;
        const TWords w = SplitWords(line, 10);
        if (w.size() <= 9)
            return true;
        // Lines with a separate AM/PM word or a date of the Windows NT kind
        // after the permission field belong to other formats.
        if (w[9].compare(u"AM", Qt::CaseInsensitive) == 0 || w[9].compare(u"PM", Qt::CaseInsensitive) == 0)
            return false;
        return !(!w[8].contains(u':') && IsMonthName(w[6]));
    }
    const TWords w = SplitWords(line, 4);
    return w.size() > 3 && IsNumber(w[0])
        && (IsUnixPermission(w[1]) || (IsNumber(w[1]) && IsUnixPermission(w[2])));
}

static bool IsUnitreeBanner(QStringView line)
{
    return line.startsWith(u'/') && line.endsWith(u").") && line.contains(u'(');
}

bool IsUnitreeLine(QStringView line)
{
    const TWords w = SplitWords(line, 5);
    return (w.size() >= 5 && (w[4] == u"AR" || w[4] == u"DK")) || IsUnitreeBanner(line);
}

namespace {

// The Unix recognition: the first line of entries decides; totals and
// banners before it are passed over.
QStringView FirstUnixLine(const QStringList& lines)
{
    for (const QString& line : lines) {
        if (IsBlankLine(line))
            continue;
        if (IsUnixLine(line))
            return line;
        if (!IsTotalLine(line) && !IsSubDirBanner(line))
            break;
    }
    return {};
}

int ClampToInt(qint64 v)
{
    return int(std::clamp<qint64>(v, INT32_MIN, INT32_MAX));
}

int InferYear(int month, int day, const TListClock& clock)
{
    TDateTime date;
    if (!TryEncodeDate(clock.Year, month, day, date))
        return clock.Year;
    return date <= clock.Tomorrow ? clock.Year : clock.Year - 1;
}

TDateTime EncodeEntryDate(int year, int month, int day)
{
    if (month == 2 && day == 29 && !IsLeapYear(year))
        day = 28;
    return EncodeDate(year, month, day);
}

TIdDirItemType TypeFromChar(QChar c)
{
    switch (c.unicode()) {
    case u'B': return ditBlockDev;
    case u'C': return ditCharDev;
    case u'D': return ditDirectory;
    case u'L': return ditSymbolicLink;
    case u'P': return ditFIFO;
    case u'S': return ditSocket;
    default: return ditFile;
    }
}

// Where a CJK date marker stands within the first `fields` fields of the
// buffer, or -1; further on it belongs to the name.
qsizetype MarkerInFields(const TFieldBuffer& buf, QChar marker, int fields)
{
    const qsizetype at = buf.Rest().indexOf(marker);
    return at >= 0 && at < buf.FieldsLength(fields) ? at : -1;
}

class TUnixParser : public TIdFTPListParser {
public:
    QString Ident() const override { return QStringLiteral("Unix"); }

    bool Recognise(const QStringList& lines, const QString&, bool) const override
    {
        const QStringView line = FirstUnixLine(lines);
        return !line.isNull() && !IsUnitreeLine(line);
    }

    std::unique_ptr<TIdFTPListItem> MakeItem() const override { return std::make_unique<TIdUnixFTPListItem>(); }

    void ParseListing(const QStringList& lines, TIdFTPListItems& items, const TListClock& clock) const override
    {
        QString path;
        for (const QString& line : lines) {
            if (IsBlankLine(line) || IsTotalLine(line) || line.startsWith(u"/bin/ls:", Qt::CaseInsensitive)
                || IsUnitreeBanner(line))
                continue;
            if (IsSubDirBanner(line) && !IsUnixLine(line)) {
                path = line.chopped(1);
                continue;
            }
            AddLine(line, path, items, clock);
        }
    }

    bool ParseLine(TIdFTPListItem& base, const QString& path, const TListClock& clock) const override;
};

bool TUnixParser::ParseLine(TIdFTPListItem& base, const QString& path, const TListClock& clock) const
{
    auto& item = static_cast<TIdUnixFTPListItem&>(base);
    const QString& line = item.Data();
    TFieldBuffer buf(line);
    int year = clock.Year, month = clock.Month, day = clock.Day;
    int hour = clock.Hour, min = clock.Min, sec = clock.Sec, msec = clock.MSec;
    bool yearRead = false;

    // 1. Inode and blocks
    if (!IsUnixPermission(buf.Peek())) {
        item.SetInode(NumberDef(buf.Take()));
        if (!IsUnixPermission(buf.Peek()))
            item.SetNumberBlocks(NumberDef(buf.Take()));
    }

    // 2. Permissions
    const QStringView perm = buf.Take();
    const QChar typeChar = perm.isEmpty() ? QChar() : perm[0].toUpper();
    item.SetPermissionDisplay(perm.left(10).toString());
    item.SetOwnerPermissions(perm.mid(1, 3).toString());
    item.SetGroupPermissions(perm.mid(4, 3).toString());
    item.SetOtherPermissions(perm.mid(7, 3).toString());
    item.SetItemType(TypeFromChar(typeChar));

    // 3. Link count, and whether owner and group columns exist at all
    QStringView linkText, owner, group;
    bool hasOwner = true;
    const QStringView link = buf.Take();
    if (link.compare(u"folder", Qt::CaseInsensitive) == 0) {
        hasOwner = false;
    } else {
        if (link.size() >= 4 && link[0] == u'0')
            buf.Prepend(link.mid(1).toString() + u' ');
        else
            linkText = link;
        const TWords w = SplitWords(line, 8);
        qsizetype i = 0;
        while (i < 2 && i < w.size() && IsNumber(w[i]))
            ++i;
        if (w.size() - i > 5 && IsMonthName(w[i + 3]) && IsNumber(w[i + 4])
            && (IsNumber(w[i + 5]) || w[i + 5].contains(u':')))
            hasOwner = false;
    }
    item.SetLinkCount(ClampToInt(NumberDef(linkText)));

    // 4. Owner and group
    if (hasOwner) {
        owner = buf.Take();
        group = buf.Take();
    }

    // 5. Size
    QStringView sizeText;
    const QStringView rest = buf.Rest();
    if (!rest.isEmpty() && rest[0].unicode() < 128 && rest[0].isLetter()) {
        // One column fewer than expected: what was read as the group is the size.
        sizeText = group;
        if (IsNumber(sizeText)) {
            item.SetGroupName(owner.toString());
        } else {
            // A group name with blanks: its words run up to the size.
            QString joined = group.toString();
            sizeText = {};
            while (!buf.IsEmpty()) {
                const QStringView f = buf.Take();
                if (IsNumber(f)) {
                    sizeText = f;
                    break;
                }
                joined += u' ' + f.toString();
            }
            item.SetOwnerName(owner.toString());
            item.SetGroupName(joined);
        }
    } else {
        item.SetOwnerName(owner.toString());
        item.SetGroupName(group.toString());
        const QStringView f = buf.Take();
        if (f.contains(u',')) {
            // "major, minor" of a device; a compact "major,minor" holds both.
            if (f.endsWith(u','))
                buf.Take();
        } else if (f == u"AR" || f == u"DK") {
            sizeText = buf.Take();
        } else {
            sizeText = f;
        }
    }
    item.SetSize(NumberDef(sizeText));

    // 6. Date
    enum { stYearOrTime, stTime, stName, stNameTrimmed } step = stYearOrTime;
    QStringView timeField;
    bool kanjiYear = false;
    if (const qsizetype at = MarkerInFields(buf, u'\u5E74', 1); at >= 0) {
        year = NumberOrFail(buf.Rest().left(at));
        yearRead = kanjiYear = true;
        buf.SetRest(buf.Rest().mid(at + 1));
        hour = min = sec = 0;
        msec = 999;
    }
    const qsizetype monthAt = MarkerInFields(buf, u'\u6708', 1);
    const qsizetype dayAt = MarkerInFields(buf, u'\u65E5', 2);
    if (dayAt >= 0) {
        const QStringView r = buf.Rest();
        const qsizetype m = monthAt >= 0 && monthAt < dayAt ? monthAt : -1;
        month = NumberOrFail(m >= 0 ? r.left(m) : QStringView());
        day = NumberOrFail(r.mid(m + 1, dayAt - m - 1));
        buf.SetRest(r.mid(dayAt + 1));
        if (kanjiYear) {
            step = stNameTrimmed;
        } else {
            timeField = buf.Take();
            step = stTime;
        }
    } else {
        buf.SkipBlanks();
        const QStringView r = buf.Rest();
        const qsizetype firstEnd = buf.FieldsLength(1);
        if (r.left(firstEnd).contains(u'-') || r.left(firstEnd).contains(u'/')) {
            QString s = r.toString();
            for (qsizetype i = 0; i < firstEnd; ++i)
                if (s[i] == u'-' || s[i] == u'/')
                    s[i] = u' ';
            buf.Assign(std::move(s));
        }
        QStringView f = buf.Take();
        qint64 n;
        if (f.size() > 3 && TryParseNumber(f, n)) {
            year = ClampToInt(n);
            yearRead = true;
            f = buf.Take();
        }
        if (f.endsWith(u'.'))
            f.chop(1);
        for (QChar marker : {QChar(0xC6D4), QChar(0xBFF9), QChar(0x8C8E)})
            if (const QStringView chopped = ChopFirstAtEnd(f, marker); chopped.size() != f.size()) {
                f = chopped;
                break;
            }
        bool takeDay = false;
        if (TryParseNumber(f, n)) {
            QStringView look = buf.Peek();
            if (look.endsWith(u','))
                look.chop(1);
            if (look.endsWith(u'.'))
                look.chop(1);
            if (const int m = MonthFromName(look)) {
                day = ClampToInt(n);
                month = m;
                buf.Take();
            } else if (n > 12) {
                day = ClampToInt(n);
                month = ClampToInt(NumberDef(buf.Take()));
            } else {
                month = int(n);
                takeDay = true;
            }
        } else if (const int m = MonthFromName(f)) {
            month = m;
            takeDay = true;
        } else {
            // A dotted date, year first.
            const qsizetype dot1 = f.indexOf(u'.');
            const QStringView yearText = dot1 >= 0 ? f.left(dot1) : f;
            const QStringView afterYear = dot1 >= 0 ? f.mid(dot1 + 1) : QStringView();
            const qsizetype dot2 = afterYear.indexOf(u'.');
            const QStringView monthText = dot2 >= 0 ? afterYear.left(dot2) : afterYear;
            const QStringView dayText = dot2 >= 0 ? afterYear.mid(dot2 + 1) : QStringView();
            if (TryParseNumber(yearText, n)) {
                year = ClampToInt(n);
                yearRead = true;
            }
            month = ClampToInt(NumberDef(monthText));
            day = NumberOrFail(dayText);
            step = stNameTrimmed;
        }
        if (takeDay) {
            QStringView d = buf.Take();
            for (QChar marker : {QChar(0xC77C), QChar(0x93FA)})
                if (const QStringView chopped = ChopFirstAtEnd(d, marker); chopped.size() != d.size()) {
                    d = chopped;
                    break;
                }
            if (TryParseNumber(d, n))
                day = ClampToInt(n);
        }
    }

    // 7. Year or time
    if (step == stYearOrTime) {
        const QStringView f = ChopFirstAtEnd(buf.Take(), QChar(0x944E));
        if (f.contains(u':')) {
            timeField = f;
            step = stTime;
        } else {
            qint64 n;
            if (TryParseNumber(f, n)) {
                year = ClampToInt(n);
                yearRead = true;
            }
            hour = min = sec = 0;
            msec = 999;
            step = stName;
        }
    }

    // 8. Time; a year the line wrote stands over the inferred one.
    if (step == stTime) {
        if (!yearRead)
            year = InferYear(month, day, clock);
        qsizetype parts = 0;
        int values[4] = {0, 0, 0, 999};
        for (QStringView part : timeField.tokenize(u':')) {
            if (parts < 4) {
                qint64 n;
                if (TryParseNumber(part.trimmed(), n))
                    values[parts] = ClampToInt(n);
            }
            ++parts;
        }
        hour = values[0];
        min = values[1];
        sec = values[2];
        msec = values[3];
        qint64 n;
        if (timeField.count(u':') > 1 && TryParseNumber(buf.Peek(), n)) {
            buf.Take();
            year = ClampToInt(n);
            yearRead = true;
        }
    }

    // 9. Name
    if (step == stNameTrimmed)
        buf.SkipBlanks();
    QString name = buf.Rest().toString();

    TDateTime modified = ComposeDateTime(EncodeEntryDate(year, month, day), EncodeTime(hour, min, sec, msec));
    if (!yearRead && year < clock.Year && clock.Now - modified > 90) {
        // A date of last year that is, a year on, within the coming week is
        // this year's: the server's clock is ahead or the inference was.
        const TDateTime later =
            ComposeDateTime(EncodeEntryDate(year + 1, month, day), EncodeTime(hour, min, sec, msec));
        if (later <= clock.Now + 7)
            modified = later;
    }
    item.SetModifiedDate(modified);

    if (typeChar == u'L') {
        const qsizetype arrow = name.indexOf(u" -> ");
        if (arrow >= 0) {
            QString target = name.mid(arrow + 4);
            name.truncate(arrow);
            if (target.endsWith(u'/')) {
                item.SetItemType(ditSymbolicLinkDir);
                target.chop(1);
            }
            item.SetLinkedItemName(target);
        }
    }
    if (name.endsWith(u'/') || name.endsWith(u'*'))
        name.chop(1);
    if (!path.isEmpty()) {
        item.SetLocalFileName(name);
        name = path + u'/' + name;
        if (name.startsWith(u"./")) {
            name.remove(0, 2);
            if (name.startsWith(u'/'))
                name.remove(0, 1);
        }
    }
    item.SetFileName(name);
    return true;
}

// Unitree writes Unix lines with an archive column ("AR", "DK"); the Unix
// parser reads them, so only the recognition differs.
class TUnitreeParser : public TUnixParser {
public:
    QString Ident() const override { return QStringLiteral("Unitree"); }

    bool Recognise(const QStringList& lines, const QString&, bool) const override
    {
        const QStringView line = FirstUnixLine(lines);
        return !line.isNull() && IsUnitreeLine(line);
    }
};

} // namespace

const TIdFTPListParser& UnixParser()
{
    static const TUnixParser parser;
    return parser;
}

const TIdFTPListParser& UnitreeParser()
{
    static const TUnitreeParser parser;
    return parser;
}

} // namespace ftplist
