// The tools print one record per line, fields split by tabs: a backslash
// inside a field is written as \\, a control character as its escape (tab,
// CR and LF as \t, \r and \n, the others as \x and two hexadecimal digits).
#pragma once

#include "platform/text.h"

#include <QString>

inline QString Escaped(const QString& text)
{
    return EscapeControls(QString(text).replace(u'\\', QStringLiteral("\\\\")));
}
