// zembo-ls: shows how the updater reads a server's directory listing.
//   zembo-ls [--syst TEXT] [--now YYYY-MM-DDTHH:MM:SS] [--utf8] [FILE]
#include "tools/cli.h"
#include "tools/escape.h"
#include "ftp/listing/ftplist.h"
#include "platform/errors.h"

#include <QCoreApplication>
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
    WriteText(stdout, line + u'\n');
}

// Reads the listing and prints it: exit 0 read, 1 a line could not be read,
// 2 the input cannot be opened.
int ShowListing(const QString& file, const QString& syst, bool utf8, TDateTime now)
{
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TCommandLine cli("zembo-ls", {"[--syst TEXTO] [--now AAAA-MM-DDTHH:MM:SS] [--utf8] [ARQUIVO]"},
                     "Mostra como o atualizador lê a listagem de diretório em ARQUIVO (ou na entrada padrão).");
    cli.AddOptions({{"syst", "a resposta do servidor ao SYST", "TEXTO"},
                    {"now", "o momento da leitura (padrão: agora)", "DATA"},
                    {"utf8", "lê os nomes em UTF-8 em vez de 8 bits"}});
    if (const std::optional<int> end = cli.Parse(app.arguments()))
        return *end;
    if (cli.Operands().size() > 1)
        return cli.Usage("um ARQUIVO no máximo");
    TDateTime now = Now();
    if (cli.IsSet("now")) {
        const QDateTime t = QDateTime::fromString(cli.Value("now"), Qt::ISODate);
        if (!t.isValid())
            return cli.Usage("--now quer AAAA-MM-DDTHH:MM:SS");
        now = TDateTime::FromQDateTime(t);
    }
    return ShowListing(cli.Operands().value(0), cli.Value("syst"), cli.IsSet("utf8"), now);
}
