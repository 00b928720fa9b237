// The listing parsers and their registry, for the listing library itself
// and its tests; the client uses ftplist.h only.
#pragma once

#include "ftp/listing/ftplist.h"

#include <QStringList>

namespace ftplist {

// The client's clock at the time of the parse, broken down once.
struct TListClock {
    explicit TListClock(TDateTime now);
    TDateTime Now;
    int Year, Month, Day, Hour, Min, Sec, MSec;
    TDateTime Tomorrow; // date only
};

// A parser keeps no state between calls.
class TIdFTPListParser {
public:
    virtual ~TIdFTPListParser() = default;
    virtual QString Ident() const = 0;
    virtual bool Recognise(const QStringList& lines, const QString& systemDesc, bool details) const = 0;
    // Fills `items` from the whole listing; the default makes an item of each
    // line that is not blank.
    virtual void ParseListing(const QStringList& lines, TIdFTPListItems& items, const TListClock& clock) const;
    // Reads one line into an item that already holds it in Data; false when
    // the format has no entry in that line (the item is then dropped).
    virtual bool ParseLine(TIdFTPListItem& item, const QString& path, const TListClock& clock) const;
    virtual std::unique_ptr<TIdFTPListItem> MakeItem() const;

protected:
    // Appends an item for `line` and parses it. The item is in the
    // collection before the line parse runs, so a failing line keeps it.
    void AddLine(const QString& line, const QString& path, TIdFTPListItems& items, const TListClock& clock) const;
};

// The parsers in the order detection asks them; filled on first use.
const std::vector<const TIdFTPListParser*>& ListParsers();
const TIdFTPListParser* FindListParser(const QString& ident);
// The first parser in registry order that accepts the listing, or none.
const TIdFTPListParser* DetectListFormat(const QStringList& lines, const QString& systemDesc, bool details);

// The Unix line check, which the look-alike formats also use to keep their
// hands off Unix listings.
bool IsUnixLine(QStringView line);
bool IsUnitreeLine(QStringView line);
// True when the Unix or the Windows NT parser reads the listing.
bool IsUnixOrWindowsNTListing(const QStringList& lines);

} // namespace ftplist

namespace ftplist {

// The parsers that read items; the registry holds them with the others.
const TIdFTPListParser& UnixParser();
const TIdFTPListParser& UnitreeParser();
const TIdFTPListParser& WindowsNTParser();
const TIdFTPListParser& EplfParser();

} // namespace ftplist
