// Parses generated Unix and Windows NT listings and prints lines per second.
#include "ftp/listing/ftplist.h"

#include <QElapsedTimer>
#include <cstdio>

namespace {

QStringList UnixLines(int count)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    QStringList lines{QStringLiteral("total %1").arg(count)};
    for (int i = 0; i < count; ++i)
        lines << (i % 3 == 0 ? QStringLiteral("-rw-r--r--   1 joe  staff   %1 %2 %3  2023 file%4.dat")
                             : QStringLiteral("-rw-r--r--   1 joe  staff   %1 %2 %3 10:%4 File Name %4.TXT"))
                     .arg(i * 7 % 100000)
                     .arg(QLatin1String(months[i % 12]))
                     .arg(i % 28 + 1, 2)
                     .arg(i % 60, 2, 10, QLatin1Char('0'));
    return lines;
}

QStringList NTLines(int count)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << (i % 10 == 0 ? QStringLiteral("%1-%2-24  %3:15PM       <DIR>          folder %4")
                              : QStringLiteral("%1-%2-24  %3:15AM           %4 file %4.txt"))
                     .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                     .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                     .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                     .arg(i, 10);
    return lines;
}

void Run(const char* name, const QStringList& lines, const char* syst)
{
    const TDateTime now(EncodeDate(2025, 3, 10).Value() + 0.5);
    TIdFTPListItems items;
    QString format;
    QElapsedTimer timer;
    timer.start();
    ParseFTPListing(lines, QString::fromLatin1(syst), true, items, format, now);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("%-4s %8lld lines  %-10s %7d items  %8.3f s  %12.0f lines/s\n", name, qlonglong(lines.size()),
                qPrintable(format), items.Count(), seconds, double(lines.size()) / seconds);
}

} // namespace

int main()
{
    for (int count : {10000, 1000000}) {
        Run("Unix", UnixLines(count), "UNIX Type: L8");
        Run("NT", NTLines(count), "Windows_NT");
    }
    return 0;
}
