// zembo-ls: shows how the updater reads a server's directory listing.
//   zembo-ls [--syst TEXT] [--now YYYY-MM-DDTHH:MM:SS] [--utf8] [FILE]
#include "tools/escape.h"
#include "ftp/listing/ftplist.h"
#include "platform/errors.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <cstdio>

namespace {

const char* const TypeNames[] = {"ditDirectory", "ditFile", "ditSymbolicLink", "ditSymbolicLinkDir",
                                 "ditBlockDev", "ditCharDev", "ditFIFO", "ditSocket"};

QString DateText(TDateTime value)
{
    const TDateParts d = DecodeDate(value);
    const TTimeParts t = DecodeTime(value);
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", d.Year, d.Month, d.Day, t.Hour, t.Min, t.Sec,
                             t.MSec);
}

void Print(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

int Usage(const char* why)
{
    std::fprintf(stderr, "zembo-ls: %s\nusage: zembo-ls [--syst TEXT] [--now YYYY-MM-DDTHH:MM:SS] [--utf8] [FILE]\n",
                 why);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QString syst, file;
    bool utf8 = false;
    TDateTime now = Now();
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--utf8") {
            utf8 = true;
        } else if (arg == u"--syst" || arg == u"--now") {
            if (++i >= argc)
                return Usage("option needs a value");
            const QString value = QString::fromLocal8Bit(argv[i]);
            if (arg == u"--syst") {
                syst = value;
            } else {
                const QDateTime t = QDateTime::fromString(value, Qt::ISODate);
                if (!t.isValid())
                    return Usage("--now wants YYYY-MM-DDTHH:MM:SS");
                now = TDateTime::FromQDateTime(t);
            }
        } else if (arg.startsWith(u"--") || !file.isEmpty()) {
            return Usage("unknown argument");
        } else {
            file = arg;
        }
    }

    QFile in;
    const bool opened = file.isEmpty() ? in.open(stdin, QIODevice::ReadOnly) : (in.setFileName(file), in.open(QIODevice::ReadOnly));
    if (!opened) {
        std::fprintf(stderr, "zembo-ls: cannot read %s\n", qPrintable(file.isEmpty() ? QStringLiteral("standard input") : file));
        return 2;
    }
    const QByteArray bytes = in.readAll();
    // Control text is 8-bit (each byte its own character) unless the server speaks UTF-8.
    const QStringList lines = SplitListingLines(utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));

    TIdFTPListItems items;
    QString format, error;
    try {
        ParseFTPListing(lines, syst, true, items, format, now);
    } catch (const Exception& e) {
        error = e.Message();
    }
    Print(QStringLiteral("format\t") + Escaped(format));
    for (int i = 0; i < items.Count(); ++i) {
        const TIdFTPListItem& item = items.Items(i);
        const auto* unix = dynamic_cast<const TIdUnixFTPListItem*>(&item);
        const QStringList fields = {
            QStringLiteral("item"), QString::number(i), Escaped(item.FileName()), Escaped(item.LocalFileName()),
            QString::fromLatin1(TypeNames[item.ItemType()]), QString::number(item.Size()),
            item.SizeAvail() ? QStringLiteral("1") : QStringLiteral("0"),
            DateText(item.ModifiedDate()),
            Escaped(item.PermissionDisplay()), Escaped(unix ? unix->OwnerName() : QString()),
            Escaped(unix ? unix->GroupName() : QString()), Escaped(unix ? unix->LinkedItemName() : QString())};
        Print(fields.join(u'\t'));
    }
    if (!error.isNull()) {
        Print(QStringLiteral("error\t") + Escaped(error));
        return 1;
    }
    return 0;
}
