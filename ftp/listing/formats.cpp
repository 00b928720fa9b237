// The registry of listing formats, and the formats this program recognises
// without reading items from them (all but Unix, Unitree, Windows NT, EPLF
// and NLST). A format that is told only by the server's system description
// never claims a listing that the Unix or Windows NT parser reads.
#include "ftp/listing/listtext.h"
#include "ftp/listing/parsers.h"

#include <QDateTime>
#include <QRegularExpression>

namespace ftplist {

namespace {

// The first line that carries text: not blank and not a rule of "-", "+"
// and U+0096 under a heading.
QStringView FirstSignificantLine(const QStringList& lines)
{
    for (const QString& line : lines)
        for (QChar c : line)
            if (c != u' ' && c != u'\t' && c != u'-' && c != u'+' && c != QChar(0x96))
                return line;
    return {};
}

class TNlstParser : public TIdFTPListParser {
public:
    QString Ident() const override { return QStringLiteral("NLST"); }
    bool Recognise(const QStringList&, const QString&, bool details) const override { return !details; }
    bool ParseLine(TIdFTPListItem& item, const QString&, const TListClock&) const override
    {
        item.SetFileName(item.Data());
        return true;
    }
};

// Machine listings are parsed by ident only; this program never asks for one.
class TMlstParser : public TIdFTPListParser {
public:
    QString Ident() const override { return QStringLiteral("MLST"); }
    bool Recognise(const QStringList&, const QString&, bool) const override { return false; }
};

// Easily Parsed LIST Format: "+fact,fact,...<TAB>name".
class TEplfParser : public TIdFTPListParser {
public:
    QString Ident() const override { return QStringLiteral("EPLF"); }

    bool Recognise(const QStringList& lines, const QString&, bool) const override
    {
        const QString& first = lines.value(0);
        return first.size() >= 3 && first.startsWith(u'+') && first.contains(u'\t');
    }

    bool ParseLine(TIdFTPListItem& item, const QString& path, const TListClock&) const override
    {
        const QString& line = item.Data();
        const qsizetype tab = line.indexOf(u'\t');
        if (!line.startsWith(u'+') || tab < 0)
            return false;
        bool sized = false, dated = false;
        item.SetItemType(ditFile);
        for (QStringView fact : QStringView(line).mid(1, tab - 1).tokenize(u',')) {
            if (fact.isEmpty())
                continue;
            qint64 n;
            switch (fact[0].unicode()) {
            case u'/':
                item.SetItemType(ditDirectory);
                break;
            case u's':
                if (TryParseNumber(fact.mid(1), n) && n >= 0) {
                    item.SetSize(n);
                    sized = true;
                }
                break;
            case u'm':
                if (TryParseNumber(fact.mid(1), n)) {
                    item.SetModifiedDate(TDateTime::FromQDateTime(QDateTime::fromSecsSinceEpoch(n).toLocalTime()));
                    dated = true;
                }
                break;
            default:
                break;
            }
        }
        item.SetSizeAvail(sized);
        item.SetModifiedAvail(dated);
        QString name = line.mid(tab + 1);
        if (!path.isEmpty()) {
            item.SetLocalFileName(name);
            name = path + u'/' + name;
        }
        item.SetFileName(name);
        return true;
    }
};

// A format recognised by the system description and/or the shape of the
// first line that carries text (a column heading or an entry).
struct TFormatTest {
    const char* Ident;
    const char* System = nullptr; // the system description begins with it (case ignored)
    const char* FirstLine = nullptr; // regular expression for the first line of text
};

class TRecognisedFormat : public TIdFTPListParser {
public:
    explicit TRecognisedFormat(const TFormatTest& test)
        : FIdent(QString::fromLatin1(test.Ident)),
          FSystem(test.System ? QString::fromLatin1(test.System) : QString()),
          FFirstLine(test.FirstLine ? QString::fromUtf8(test.FirstLine) : QString(),
                     QRegularExpression::CaseInsensitiveOption)
    {
    }

    QString Ident() const override { return FIdent; }

    bool Recognise(const QStringList& lines, const QString& systemDesc, bool) const override
    {
        if (!FSystem.isNull() && !systemDesc.trimmed().startsWith(FSystem, Qt::CaseInsensitive))
            return false;
        if (!FFirstLine.pattern().isEmpty()) {
            const QStringView first = FirstSignificantLine(lines);
            return !first.isNull() && FFirstLine.match(first).hasMatch();
        }
        return !IsUnixOrWindowsNTListing(lines);
    }

private:
    QString FIdent;
    QString FSystem;
    QRegularExpression FFirstLine;
};

class TSystemFormat : public TIdFTPListParser {
public:
    using TMatch = bool (*)(const QString&);
    TSystemFormat(QString ident, TMatch match) : FIdent(std::move(ident)), FMatch(match) {}
    QString Ident() const override { return FIdent; }
    bool Recognise(const QStringList&, const QString& systemDesc, bool) const override { return FMatch(systemDesc); }

private:
    QString FIdent;
    TMatch FMatch;
};

// Entries or headings of each format; a pattern never fits the first line
// of a Unix or Windows NT listing (a "total" line, a permission field, an
// inode number before one, or an MS-DOS date).
const TFormatTest FormatTests[] = {
    {"AS400", nullptr,
     R"(^\S+\s+(\d+\s+\d\d/\d\d/\d\d\s+\d\d:\d\d:\d\d\s+)?\*(DIR|FILE|MEM|LIB|STMF|DOC|FLR)\b)"},
    {"Bull GCOS7", "GCOS7"},
    {"Bull GCOS8", "GCOS8"},
    {"NetManage Chameleon/Newt", nullptr,
     R"(^[^-\s]\S*\s+(<DIR>|\d+)\s+[A-Z]{3}\s+\d{1,2}\s+\d{4}\s+\d{1,2}:\d\d)"},
};

const TFormatTest FormatTestsAfterCisco[] = {
    {"Distinct TCP/IP", nullptr, R"(^[-dl][-rwxsStT]{9}\s+\d+\s+[A-Z]{3}\s+\d{1,2}\s+(\d{4}|\d{1,2}:\d\d)\s)"},
};

const TFormatTest FormatTestsAfterEplf[] = {
    {"Novell Netware", nullptr, R"(^[-d]\s+\[[-RWCEAFMS]{8}\]\s+\S+\s+\d+\s)"},
    {"Hellsoft", nullptr, R"(^[-d]\s+\[[-RWCEAFMS]{1,7}\]\s+\S+\s+\d+\s)"},
    {"KA9Q", nullptr, R"(^\s*Name\s+Size\s+Time\s+Date\s*$)"},
    {"MicroWare OS-9", nullptr,
     R"(^\s*(Owner\s+Last\s+modified\s+Attributes\s+Sector\s+Bytecount\s+Name|Directory\s+of\s+\S+\s+\d\d:\d\d:\d\d)\s*$)"},
    {"MPE/iX:  LISTF", nullptr, R"(^\s*(PATH|ACCOUNT)=\s*\S)"},
    {"MPE/iX:  With POSIX", "MPE/iX"},
    {"MUSIC/SP", nullptr, R"(^\s*Filename\s+Recfm\s+Lrecl\s+Size\s+Last\s+ref)"},
    {"MVS", nullptr, R"(^\s*Volume\s+Unit\s+Referred\s+Ext\s+Used\s+Recfm\s+Lrecl\s+BlkSz\s+Dsorg\s+Dsname)"},
    {"MVS:  Partitioned Data Set", nullptr,
     R"(^\s*Name\s+(VV\.MM\s+Created\s+Changed\s+Size|Size\s+TTR\s+Alias-of))"},
    {"MVS:  JES Queue Interface 1", nullptr, R"(^\S{1,8}\s+(JOB|STC|TSU)\d{5}\s+\S+)"},
    {"MVS:  JES Queue Interface 2", nullptr, R"(^\s*JOBNAME\s+JOBID\s+OWNER\s+STATUS)"},
    {"NCSA for MS-DOS (CU/TCP)", nullptr, R"(^\s*Directory\s+[A-Z]:\\)"},
};

const TFormatTest FormatTestsAfterMacos[] = {
    {"Novell Netware Print Services for Unix:  DOS Namespace", "NETWARE"},
    {"Novell Netware Print Services for Unix:  NFS Namespace", "NETWARE"},
    {"OS/2", nullptr, R"(^\s*\d+\s+([A-Z]{1,3}\s+)*\d\d-\d\d-\d\d\s+\d\d:\d\d\s+\S)"},
    {"PC-NFSD", nullptr, R"(^[^-\s\d]\S*\s+(\S+\s+)?(\d+|<DIR>)\s+\d{1,2}-\d{1,2}-\d{2}\s+\d{1,2}:\d\d[AP]?\s*$)"},
    {"Connect:Express for OS/390", nullptr, R"(^-[-A-Z]\s+\d+\s+\d+\s+\S+\s+\d{2}/\d{2}/\d{2})"},
    {"CONNECT:Enterprise for UNIX", nullptr, R"(^-[-A-Z]{9}FTP\s+[A-Z]\s+\S+\s+\d+\s+\d+\s)"},
    {"CONNECT:Enterprise for UNIX$$", nullptr, R"(^\s*Total\s+number\s+of\s+batches\s+listed:)"},
    {"CONNECT:Enterprise for UNIX ROOT", nullptr, R"(^d[-A-Z]{9}FTP\s)"},
    {"Stratus VOS", nullptr, R"(^\s*(Files|Dirs|Links):\s+\d+\s+Blocks:\s+\d+)"},
    {"SuperTCP", nullptr, R"(^[^-\s\d]\S*\s+(<DIR>|\d+)\s+\d{1,2}-\d{1,2}-\d{2,4}\s+\d{1,2}:\d\d(\s+\S.*)?$)"},
    {"Tandem NonStop Guardian", nullptr, R"(^\s*File\s+Code\s+EOF\s+Last\s+Modification\s+Owner\s+RWEP)"},
    {"TOPS20", nullptr, R"(^(\S+:<\S+>\s*|[^\s.]+\.[^\s.]*\.\d+(\s.*)?)$)"},
    {"TSX+", nullptr, R"(^\s*\d{1,2}-[A-Z]{3}-\d{2,4}\s*$)"},
    {"Unisys Clearpath", nullptr, R"(^\s*Name\s+Kind\s+Records\s+Sectors)"},
};

const TFormatTest FormatTestsAfterUnitree[] = {
    {"VM Virtual Reader", nullptr, R"(^\s*ORIGINID\s+FILE\s+CLASS\s+RECORDS)"},
    {"VM/BFS", nullptr, R"(^\d\d/\d\d/\d\d\s+\d\d:\d\d:\d\d\s+\S+\s+'[^']*')"},
    {"VM/CMS", nullptr, R"(^\s*FILENAME\s+FILETYPE\s+FM\s+FORMAT\s+LRECL)"},
    {"VMS", nullptr, R"(^([^\s;]+;\d+(\s.*)?|Directory\s+\S+:\[\S*\]\s*)$)"},
    {"VSE:  Library", "VSE"},
    {"VSE:  PowerQueue", nullptr, R"(^\s*Queue\s+Jobname\s+Jobnumber\s+Class)"},
    {"VSE:  Root Directory", nullptr, R"(^\s*Library\s+Sublibraries\s+)"},
    {"VSE:  Sublibrary", nullptr, R"(^\s*Member\s+Type\s+Records\s+Date)"},
    {"VSE:  VSAM Catalog", nullptr, R"(^\s*Cluster\s+Name\s+Type\s+Records)"},
    {"VSE:  VTOC", nullptr, R"(^\s*VTOC\s+of\s+volume\s+\S+)"},
    {"Wind River VxWorks", nullptr, R"(^\s*size\s+date\s+time\s+name\s*$)"},
    {"WfFTP", nullptr, R"(^\s*Name\s+Ext\s+Size\s+Date\s+Time\s+Attr\s*$)"},
};

const TFormatTest FormatTestsAfterNT[] = {
    {"WinQVT/NET", nullptr, R"(^[^-\s\d]\S*\s+(\d+|<DIR>)\s+\d\d-\d\d-\d{4}\s+\d\d:\d\d(\s|$))"},
    {"Xercom Micro RTOS", nullptr, R"(^\s*File\s+name\s+Size\s+Date\s+Time\s*$)"},
};

bool IsCiscoIos(const QString& systemDesc)
{
    return systemDesc.startsWith(u"Cisco IOS ", Qt::CaseInsensitive);
}

bool IsNcsaMacos(const QString& systemDesc)
{
    return systemDesc == u"MAC NCSA" || systemDesc.startsWith(u" MAC-OS TCP/Connect");
}

// The registry owns the parsers made for it; the four that read items are
// program-wide objects of their own, which it only lists.
class TListRegistry {
public:
    TListRegistry();
    const std::vector<const TIdFTPListParser*>& Parsers() const { return FOrder; }

private:
    void Add(const TIdFTPListParser& parser) { FOrder.push_back(&parser); }
    void Add(std::unique_ptr<const TIdFTPListParser> parser)
    {
        FOrder.push_back(parser.get());
        FOwned.push_back(std::move(parser));
    }
    template <std::size_t N>
    void AddAll(const TFormatTest (&tests)[N])
    {
        for (const TFormatTest& test : tests)
            Add(std::make_unique<TRecognisedFormat>(test));
    }

    std::vector<std::unique_ptr<const TIdFTPListParser>> FOwned;
    std::vector<const TIdFTPListParser*> FOrder;
};

TListRegistry::TListRegistry()
{
    Add(std::make_unique<TNlstParser>());
    Add(std::make_unique<TMlstParser>());
    AddAll(FormatTests);
    Add(std::make_unique<TSystemFormat>(QStringLiteral("Cisco IOS"), IsCiscoIos));
    AddAll(FormatTestsAfterCisco);
    Add(EplfParser());
    AddAll(FormatTestsAfterEplf);
    Add(std::make_unique<TSystemFormat>(QStringLiteral("NCSA for MACOS"), IsNcsaMacos));
    AddAll(FormatTestsAfterMacos);
    Add(UnixParser());
    Add(UnitreeParser());
    AddAll(FormatTestsAfterUnitree);
    Add(WindowsNTParser());
    AddAll(FormatTestsAfterNT);
}

} // namespace

const TIdFTPListParser& EplfParser()
{
    static const TEplfParser parser;
    return parser;
}

bool IsUnixOrWindowsNTListing(const QStringList& lines)
{
    return UnixParser().Recognise(lines, QString(), true) || WindowsNTParser().Recognise(lines, QString(), true);
}

const std::vector<const TIdFTPListParser*>& ListParsers()
{
    static const TListRegistry registry;
    return registry.Parsers();
}

const TIdFTPListParser* FindListParser(const QString& ident)
{
    for (const TIdFTPListParser* parser : ListParsers())
        if (parser->Ident() == ident)
            return parser;
    return nullptr;
}

const TIdFTPListParser* DetectListFormat(const QStringList& lines, const QString& systemDesc, bool details)
{
    for (const TIdFTPListParser* parser : ListParsers())
        if (parser->Recognise(lines, systemDesc, details))
            return parser;
    return nullptr;
}

} // namespace ftplist
