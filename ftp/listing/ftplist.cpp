#include "ftp/listing/ftplist.h"

#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"
#include "platform/text.h"

#include <cmath>

static bool HasLowerAsciiLetter(const QString& text)
{
    for (QChar c : text)
        if (c >= u'a' && c <= u'z')
            return true;
    return false;
}

void TIdFTPListItem::SetFileName(const QString& value)
{
    if (FLocalFileName.isEmpty() || FLocalFileName.compare(FFileName, Qt::CaseInsensitive) == 0)
        FLocalFileName = HasLowerAsciiLetter(value) ? value : value.toLower();
    FFileName = value;
}

TIdFTPListItem& TIdFTPListItems::Add(std::unique_ptr<TIdFTPListItem> item)
{
    FItems.push_back(std::move(item));
    return *FItems.back();
}

void ParseFTPListing(const QStringList& lines, const QString& systemDesc, bool details, TIdFTPListItems& items,
                     QString& dirFormat, TDateTime now)
{
    items.Clear();
    dirFormat.clear();
    if (lines.isEmpty())
        return;
    const ftplist::TIdFTPListParser* parser = ftplist::DetectListFormat(lines, systemDesc, details);
    if (!parser)
        return;
    dirFormat = parser->Ident();
    parser->ParseListing(lines, items, ftplist::TListClock(now));
}

QStringList SplitListingLines(const QString& text)
{
    // A negative index (no NUL) keeps the whole text.
    return SplitLines(QStringView(text).left(text.indexOf(QChar(0))));
}

namespace ftplist {

TListClock::TListClock(TDateTime now) : Now(now)
{
    const TDateParts d = DecodeDate(now);
    const TTimeParts t = DecodeTime(now);
    Year = d.Year;
    Month = d.Month;
    Day = d.Day;
    Hour = t.Hour;
    Min = t.Min;
    Sec = t.Sec;
    MSec = t.MSec;
    Tomorrow = TDateTime(std::floor(now.Value()) + 1);
}

std::unique_ptr<TIdFTPListItem> TIdFTPListParser::MakeItem() const
{
    return std::make_unique<TIdFTPListItem>();
}

bool TIdFTPListParser::ParseLine(TIdFTPListItem&, const QString&, const TListClock&) const
{
    return false;
}

void TIdFTPListParser::AddLine(const QString& line, const QString& path, TIdFTPListItems& items,
                               const TListClock& clock) const
{
    TIdFTPListItem& item = items.Add(MakeItem());
    item.SetData(line);
    if (!ParseLine(item, path, clock))
        items.RemoveLast();
}

void TIdFTPListParser::ParseListing(const QStringList& lines, TIdFTPListItems& items,
                                    const TListClock& clock) const
{
    for (const QString& line : lines)
        if (!IsBlankLine(line))
            AddLine(line, QString(), items, clock);
}

} // namespace ftplist
