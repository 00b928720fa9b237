#include "platform/locale.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>

namespace {

// Drops the time-zone letters ('t' runs outside quotes) and the blanks
// around them.
QString WithoutTimeZone(const QString& pattern)
{
    QString out;
    bool quoted = false;
    for (QChar c : pattern) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.trimmed();
}

QCollator Collator()
{
    QCollator c(QLocale {});
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
}

} // namespace

QString ShortDateFormat()
{
    return QLocale().dateFormat(QLocale::ShortFormat);
}

QString LongTimeFormat()
{
    return WithoutTimeZone(QLocale().timeFormat(QLocale::LongFormat));
}

QChar ThousandSeparator()
{
    const QString s = QLocale().groupSeparator();
    return s.isEmpty() ? QChar(u' ') : s.front();
}

QChar DecimalSeparator()
{
    const QString s = QLocale().decimalPoint();
    return s.isEmpty() ? QChar(u'.') : s.front();
}

QString UpperCase(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    return out;
}

QString DateToStr(TDateTime value)
{
    return QLocale().toString(value.ToQDateTime().date(), ShortDateFormat());
}

QString TimeToStr(TDateTime value)
{
    return QLocale().toString(value.ToQDateTime().time(), LongTimeFormat());
}

int CompareTextLocale(const QString& a, const QString& b)
{
    return Collator().compare(a, b);
}

void SortTextLocale(QStringList& list)
{
    const QCollator c = Collator();
    std::stable_sort(list.begin(), list.end(), [&](const QString& a, const QString& b) { return c.compare(a, b) < 0; });
}
