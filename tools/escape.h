// The tools print one record per line, fields split by tabs: tab, CR, LF
// and backslash inside a field are written as \t, \r, \n and \\.
#pragma once

#include <QString>

inline QString Escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\t': out += u"\\t"; break;
        case u'\r': out += u"\\r"; break;
        case u'\n': out += u"\\n"; break;
        case u'\\': out += u"\\\\"; break;
        default: out += c; break;
        }
    }
    return out;
}
