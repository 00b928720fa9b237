// The listing parsers: format detection and the parse of the format found,
// and the Unix, Windows NT and EPLF parsers on every input whatever its format.
// A first line "SYST text" gives the server's system description.
#include "fuzz/fuzzentry.h"

#include "ftp/listing/ftplist.h"
#include "ftp/listing/parsers.h"
#include "platform/errors.h"

namespace {

// Two clocks: an ordinary day, and the last second of a leap day, where year
// inference and correction meet their edges.
const TDateTime Clocks[] = {EncodeDate(2025, 3, 10) + 0.5,
                            EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999).Value()};

void ParseWith(const ftplist::TIdFTPListParser& parser, const QStringList& lines, const ftplist::TListClock& clock)
{
    TIdFTPListItems items;
    try {
        parser.ParseListing(lines, items, clock);
    } catch (const Exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList lines = SplitListingLines(FuzzText(data, size));
    QString systemDesc;
    if (!lines.isEmpty() && lines.front().startsWith(u"SYST "))
        systemDesc = lines.takeFirst().mid(5);
    const TDateTime now = Clocks[size % 2];

    TIdFTPListItems items;
    QString dirFormat;
    try {
        ParseFTPListing(lines, systemDesc, true, items, dirFormat, now);
    } catch (const Exception&) {
    }

    const ftplist::TListClock clock(now);
    ParseWith(ftplist::UnixParser(), lines, clock);
    ParseWith(ftplist::WindowsNTParser(), lines, clock);
    ParseWith(ftplist::EplfParser(), lines, clock);
    return 0;
}
