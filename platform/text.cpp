#include "platform/text.h"

QStringList SplitLines(QStringView text, TLineSplitOptions options)
{
    const bool lineFeedOnly = options.testFlag(lsLineFeedOnly);
    QStringList lines;
    qsizetype start = 0;
    const auto take = [&](qsizetype end) {
        QStringView line = text.sliced(start, end - start);
        if (lineFeedOnly && line.endsWith(u'\r'))
            line.chop(1);
        lines.append(line.toString());
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\n' && (c != u'\r' || lineFeedOnly))
            continue;
        take(i);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size() || options.testFlag(lsKeepLastEmpty))
        take(text.size());
    return lines;
}

QString TrimControl(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= u' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

bool SameText(QStringView text, const char* latin1)
{
    return text.compare(QLatin1StringView(latin1), Qt::CaseInsensitive) == 0;
}
