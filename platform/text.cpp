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

namespace {

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
}

QString Escape(QStringView text, const QStringView* lineBreak)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!IsControl(c)) {
            out += c;
            continue;
        }
        if (lineBreak && (c == u'\r' || c == u'\n')) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            out += *lineBreak;
            continue;
        }
        switch (c.unicode()) {
        case u'\t': out += u"\\t"; break;
        case u'\r': out += u"\\r"; break;
        case u'\n': out += u"\\n"; break;
        default:
            out += u"\\x";
            out += QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
            break;
        }
    }
    return out;
}

} // namespace

QString EscapeControls(QStringView text)
{
    return Escape(text, nullptr);
}

QString EscapeControls(QStringView text, QStringView lineBreak)
{
    return Escape(text, &lineBreak);
}

bool SameText(QStringView text, const char* latin1)
{
    return text.compare(QLatin1StringView(latin1), Qt::CaseInsensitive) == 0;
}

QString UltimaPalavra(const QString& line)
{
    const QString trimmed = TrimControl(line);
    const qsizetype blank = trimmed.lastIndexOf(u' ');
    return TrimControl(trimmed.mid(blank < 0 ? 0 : blank, 1000));
}

QString TrocaCaractere(const QString& text, const QString& find, const QString& replacement)
{
    QString result;
    for (QChar c : text) {
        if (find.size() == 1 && c == find.front())
            result += replacement;
        else
            result += c;
    }
    return result;
}
