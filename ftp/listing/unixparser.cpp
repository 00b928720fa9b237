// The long listing of Unix-like servers ("ls -l" and its many variants), and
// Unitree, which writes the same lines with an extra column.
#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"

#include <algorithm>
#include <initializer_list>

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

// Most lines of a listing repeat the permissions, owner and group of the
// line before; sharing those texts saves most of the allocations per item.
struct TTextCache {
    QString Permissions[4];
    QString Owner, Group;
};

TTextCache& Cache()
{
    thread_local TTextCache cache;
    return cache;
}

const QString& Shared(QString& cached, QStringView text)
{
    if (cached != text)
        cached = text.toString();
    return cached;
}

// The date and time of an entry: the client's clock until the line says
// otherwise.
struct TEntryTime {
    explicit TEntryTime(const TListClock& clock)
        : Year(clock.Year), Month(clock.Month), Day(clock.Day), Hour(clock.Hour), Min(clock.Min), Sec(clock.Sec),
          MSec(clock.MSec)
    {
    }
    // A date the line gives without a time of day reads as 00:00:00.999.
    void SetNoTime()
    {
        Hour = Min = Sec = 0;
        MSec = 999;
    }
    TDateTime Compose(int year) const
    {
        return ComposeDateTime(EncodeEntryDate(year, Month, Day), EncodeTime(Hour, Min, Sec, MSec));
    }

    int Year, Month, Day, Hour, Min, Sec, MSec;
    bool YearRead = false; // the line wrote the year
};

// What follows the date fields.
enum TAfterDate { adYearOrTime, adTime, adName, adNameTrimmed };

// Removes the first of `markers` that stands, once, at the end of `field`.
QStringView ChopOneMarker(QStringView field, std::initializer_list<QChar> markers)
{
    for (QChar marker : markers)
        if (const QStringView chopped = ChopFirstAtEnd(field, marker); chopped.size() != field.size())
            return chopped;
    return field;
}

// Reads one line of a Unix long listing into its item, one step per
// column group: inode and blocks, permissions, link count, owner and group,
// size, date, year or time, time, name.
class TUnixLineReader {
public:
    TUnixLineReader(TIdUnixFTPListItem& item, const TListClock& clock)
        : FItem(item), FClock(clock), FBuf(item.Data()), FTime(clock)
    {
    }

    void Read(const QString& path)
    {
        ReadInodeAndBlocks();
        ReadPermissions();
        const bool hasOwner = ReadLinkCount();
        ReadOwnerGroupAndSize(hasOwner);
        TAfterDate next = ReadDate();
        if (next == adYearOrTime)
            next = ReadYearOrTime();
        if (next == adTime)
            ReadTime();
        if (next == adNameTrimmed)
            FBuf.SkipBlanks();
        const QString name = FBuf.Rest().toString();
        FItem.SetModifiedDate(ModifiedDate());
        SetNames(name, path);
    }

private:
    void ReadInodeAndBlocks();
    void ReadPermissions();
    bool ReadLinkCount();
    void ReadOwnerGroupAndSize(bool hasOwner);
    QStringView ReadShiftedColumns(QStringView owner, QStringView group);
    QStringView ReadSizeColumn();
    TAfterDate ReadDate();
    bool ReadCjkYear();
    TAfterDate ReadCjkMonthDay(qsizetype dayAt, bool cjkYear);
    TAfterDate ReadWordDate();
    void BlankFirstFieldSeparators();
    bool ReadNumericDate(qint64 n);
    void ReadDottedDate(QStringView field);
    void ReadDay();
    TAfterDate ReadYearOrTime();
    void ReadTime();
    TDateTime ModifiedDate() const;
    void SetNames(QString name, const QString& path);

    TIdUnixFTPListItem& FItem;
    const TListClock& FClock;
    TFieldBuffer FBuf;
    TEntryTime FTime;
    QChar FType;
    QStringView FTimeField;
};

// 1. Inode and blocks, when the line starts with numbers.
void TUnixLineReader::ReadInodeAndBlocks()
{
    if (IsUnixPermission(FBuf.Peek()))
        return;
    FItem.SetInode(NumberDef(FBuf.Take()));
    if (!IsUnixPermission(FBuf.Peek()))
        FItem.SetNumberBlocks(NumberDef(FBuf.Take()));
}

// 2. Permissions and the type they give.
void TUnixLineReader::ReadPermissions()
{
    const QStringView perm = FBuf.Take();
    FType = perm.isEmpty() ? QChar() : perm[0].toUpper();
    TTextCache& cache = Cache();
    if (perm.left(10) != cache.Permissions[0]) {
        cache.Permissions[0] = perm.left(10).toString();
        cache.Permissions[1] = perm.mid(1, 3).toString();
        cache.Permissions[2] = perm.mid(4, 3).toString();
        cache.Permissions[3] = perm.mid(7, 3).toString();
    }
    FItem.SetPermissionDisplay(cache.Permissions[0]);
    FItem.SetOwnerPermissions(cache.Permissions[1]);
    FItem.SetGroupPermissions(cache.Permissions[2]);
    FItem.SetOtherPermissions(cache.Permissions[3]);
    FItem.SetItemType(TypeFromChar(FType));
}

// 3. Link count; false when the line has no owner and group columns.
bool TUnixLineReader::ReadLinkCount()
{
    const QStringView link = FBuf.Take();
    if (link.compare(u"folder", Qt::CaseInsensitive) == 0)
        return false;
    QStringView linkText;
    if (link.size() >= 4 && link[0] == u'0')
        FBuf.Prepend(link.mid(1).toString() + u' ');
    else
        linkText = link;
    FItem.SetLinkCount(ClampToInt(NumberDef(linkText)));
    const TWords w = SplitWords(FItem.Data(), 8);
    qsizetype i = 0;
    while (i < 2 && i < w.size() && IsNumber(w[i]))
        ++i;
    return !(w.size() - i > 5 && IsMonthName(w[i + 3]) && IsNumber(w[i + 4])
             && (IsNumber(w[i + 5]) || w[i + 5].contains(u':')));
}

// 4. and 5. Owner, group and size.
void TUnixLineReader::ReadOwnerGroupAndSize(bool hasOwner)
{
    QStringView owner, group;
    if (hasOwner) {
        owner = FBuf.Take();
        group = FBuf.Take();
    }
    QStringView sizeText;
    const QStringView rest = FBuf.Rest();
    if (!rest.isEmpty() && rest[0].unicode() < 128 && rest[0].isLetter()) {
        sizeText = ReadShiftedColumns(owner, group);
    } else {
        TTextCache& cache = Cache();
        FItem.SetOwnerName(Shared(cache.Owner, owner));
        FItem.SetGroupName(Shared(cache.Group, group));
        sizeText = ReadSizeColumn();
    }
    FItem.SetSize(NumberDef(sizeText));
}

// One column fewer than expected: what was read as the group is the size.
// Gives the size text.
QStringView TUnixLineReader::ReadShiftedColumns(QStringView owner, QStringView group)
{
    if (IsNumber(group)) {
        FItem.SetGroupName(owner.toString());
        return group;
    }
    // A group name with blanks: its words run up to the size.
    QString joined = group.toString();
    QStringView sizeText;
    while (!FBuf.IsEmpty()) {
        const QStringView f = FBuf.Take();
        if (IsNumber(f)) {
            sizeText = f;
            break;
        }
        joined += u' ' + f.toString();
    }
    FItem.SetOwnerName(owner.toString());
    FItem.SetGroupName(joined);
    return sizeText;
}

// The size column; a device has "major, minor" there and no size.
QStringView TUnixLineReader::ReadSizeColumn()
{
    const QStringView f = FBuf.Take();
    if (f.contains(u',')) {
        // A compact "major,minor" holds both.
        if (f.endsWith(u','))
            FBuf.Take();
        return {};
    }
    if (f == u"AR" || f == u"DK")
        return FBuf.Take();
    return f;
}

// 6. The date, in one of the forms the servers write.
TAfterDate TUnixLineReader::ReadDate()
{
    const bool cjkYear = ReadCjkYear();
    if (const qsizetype dayAt = MarkerInFields(FBuf, u'\u65E5', 2); dayAt >= 0)
        return ReadCjkMonthDay(dayAt, cjkYear);
    return ReadWordDate();
}

// A year before U+5E74; the date then has no time of day.
bool TUnixLineReader::ReadCjkYear()
{
    const qsizetype at = MarkerInFields(FBuf, u'\u5E74', 1);
    if (at < 0)
        return false;
    FTime.Year = NumberOrFail(FBuf.Rest().left(at));
    FTime.YearRead = true;
    FBuf.SetRest(FBuf.Rest().mid(at + 1));
    FTime.SetNoTime();
    return true;
}

// Month before U+6708, day before U+65E5; a time follows unless a year came first.
TAfterDate TUnixLineReader::ReadCjkMonthDay(qsizetype dayAt, bool cjkYear)
{
    const qsizetype monthAt = MarkerInFields(FBuf, u'\u6708', 1);
    const QStringView r = FBuf.Rest();
    const qsizetype m = monthAt >= 0 && monthAt < dayAt ? monthAt : -1;
    FTime.Month = NumberOrFail(m >= 0 ? r.left(m) : QStringView());
    FTime.Day = NumberOrFail(r.mid(m + 1, dayAt - m - 1));
    FBuf.SetRest(r.mid(dayAt + 1));
    if (cjkYear)
        return adNameTrimmed;
    FTimeField = FBuf.Take();
    return adTime;
}

// A date of words and numbers: "Mar 5", "5 Mar", "2021-02-03", "03/25/2021",
// "5. Mär.", or a dotted "2021.02.03".
TAfterDate TUnixLineReader::ReadWordDate()
{
    FBuf.SkipBlanks();
    BlankFirstFieldSeparators();
    QStringView f = FBuf.Take();
    qint64 n;
    if (f.size() > 3 && TryParseNumber(f, n)) {
        FTime.Year = ClampToInt(n);
        FTime.YearRead = true;
        f = FBuf.Take();
    }
    if (f.endsWith(u'.'))
        f.chop(1);
    f = ChopOneMarker(f, {QChar(0xC6D4), QChar(0xBFF9), QChar(0x8C8E)});
    bool dayFollows;
    if (TryParseNumber(f, n)) {
        dayFollows = ReadNumericDate(n);
    } else if (const int m = MonthFromName(f)) {
        FTime.Month = m;
        dayFollows = true;
    } else {
        ReadDottedDate(f);
        return adNameTrimmed;
    }
    if (dayFollows)
        ReadDay();
    return adYearOrTime;
}

// "2021-02-03" and "03/25/2021" read as blank-separated numbers.
void TUnixLineReader::BlankFirstFieldSeparators()
{
    const QStringView r = FBuf.Rest();
    const qsizetype firstEnd = FBuf.FieldsLength(1);
    if (!r.left(firstEnd).contains(u'-') && !r.left(firstEnd).contains(u'/'))
        return;
    QString s = r.toString();
    for (qsizetype i = 0; i < firstEnd; ++i)
        if (s[i] == u'-' || s[i] == u'/')
            s[i] = u' ';
    FBuf.Assign(std::move(s));
}

// A date that starts with the number `n`: a day before a month name, a day
// above 12 before the month number, or else the month; true when the day
// follows.
bool TUnixLineReader::ReadNumericDate(qint64 n)
{
    QStringView look = FBuf.Peek();
    if (look.endsWith(u','))
        look.chop(1);
    if (look.endsWith(u'.'))
        look.chop(1);
    if (const int m = MonthFromName(look)) {
        FTime.Day = ClampToInt(n);
        FTime.Month = m;
        FBuf.Take();
        return false;
    }
    if (n > 12) {
        FTime.Day = ClampToInt(n);
        FTime.Month = ClampToInt(NumberDef(FBuf.Take()));
        return false;
    }
    FTime.Month = int(n);
    return true;
}

// A dotted date, year first; the time stays the client's.
void TUnixLineReader::ReadDottedDate(QStringView field)
{
    const qsizetype dot1 = field.indexOf(u'.');
    const QStringView yearText = dot1 >= 0 ? field.left(dot1) : field;
    const QStringView afterYear = dot1 >= 0 ? field.mid(dot1 + 1) : QStringView();
    const qsizetype dot2 = afterYear.indexOf(u'.');
    const QStringView monthText = dot2 >= 0 ? afterYear.left(dot2) : afterYear;
    const QStringView dayText = dot2 >= 0 ? afterYear.mid(dot2 + 1) : QStringView();
    qint64 n;
    if (TryParseNumber(yearText, n)) {
        FTime.Year = ClampToInt(n);
        FTime.YearRead = true;
    }
    FTime.Month = ClampToInt(NumberDef(monthText));
    FTime.Day = NumberOrFail(dayText);
}

// The day after the month; the client's day stays when it is no number.
void TUnixLineReader::ReadDay()
{
    const QStringView d = ChopOneMarker(FBuf.Take(), {QChar(0xC77C), QChar(0x93FA)});
    qint64 n;
    if (TryParseNumber(d, n))
        FTime.Day = ClampToInt(n);
}

// 7. A time, or else the year (a date without a time of day).
TAfterDate TUnixLineReader::ReadYearOrTime()
{
    const QStringView f = ChopFirstAtEnd(FBuf.Take(), QChar(0x944E));
    if (f.contains(u':')) {
        FTimeField = f;
        return adTime;
    }
    qint64 n;
    if (TryParseNumber(f, n)) {
        FTime.Year = ClampToInt(n);
        FTime.YearRead = true;
    }
    FTime.SetNoTime();
    return adName;
}

// 8. The time of day; a year the line wrote stands over the inferred one.
void TUnixLineReader::ReadTime()
{
    if (!FTime.YearRead)
        FTime.Year = InferYear(FTime.Month, FTime.Day, FClock);
    qsizetype parts = 0;
    int values[4] = {0, 0, 0, 999};
    for (QStringView part : FTimeField.tokenize(u':')) {
        if (parts < 4) {
            qint64 n;
            if (TryParseNumber(part.trimmed(), n))
                values[parts] = ClampToInt(n);
        }
        ++parts;
    }
    FTime.Hour = values[0];
    FTime.Min = values[1];
    FTime.Sec = values[2];
    FTime.MSec = values[3];
    qint64 n;
    if (FTimeField.count(u':') > 1 && TryParseNumber(FBuf.Peek(), n)) {
        FBuf.Take();
        FTime.Year = ClampToInt(n);
        FTime.YearRead = true;
    }
}

TDateTime TUnixLineReader::ModifiedDate() const
{
    const TDateTime modified = FTime.Compose(FTime.Year);
    if (FTime.YearRead || FTime.Year >= FClock.Year || FClock.Now - modified <= 90)
        return modified;
    // A date of last year that is, a year on, within the coming week is
    // this year's: the server's clock is ahead or the inference was.
    const TDateTime later = FTime.Compose(FTime.Year + 1);
    return later <= FClock.Now + 7 ? later : modified;
}

// 9. The name, the link target, and the sub-directory path.
void TUnixLineReader::SetNames(QString name, const QString& path)
{
    if (FType == u'L') {
        const qsizetype arrow = name.indexOf(u" -> ");
        if (arrow >= 0) {
            QString target = name.mid(arrow + 4);
            name.truncate(arrow);
            if (target.endsWith(u'/')) {
                FItem.SetItemType(ditSymbolicLinkDir);
                target.chop(1);
            }
            FItem.SetLinkedItemName(target);
        }
    }
    if (name.endsWith(u'/') || name.endsWith(u'*'))
        name.chop(1);
    if (!path.isEmpty()) {
        FItem.SetLocalFileName(name);
        name = path + u'/' + name;
        if (name.startsWith(u"./")) {
            name.remove(0, 2);
            if (name.startsWith(u'/'))
                name.remove(0, 1);
        }
    }
    FItem.SetFileName(name);
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

    bool ParseLine(TIdFTPListItem& item, const QString& path, const TListClock& clock) const override
    {
        TUnixLineReader(static_cast<TIdUnixFTPListItem&>(item), clock).Read(path);
        return true;
    }
};

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
