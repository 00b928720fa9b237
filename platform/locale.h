// The user's locale formats and collation. QLocale() is the system locale
// unless a test sets another default with QLocale::setDefault.
#pragma once

#include "platform/datetime.h"

#include <QString>
#include <QStringList>

QString ShortDateFormat();  // Qt pattern, e.g. "dd/MM/yyyy"
QString LongTimeFormat();   // Qt pattern without a time-zone field, e.g. "HH:mm:ss"
QChar ThousandSeparator();
QChar DecimalSeparator();

QString DateToStr(TDateTime value); // short date
QString TimeToStr(TDateTime value); // long time

// The letters a to z upper-cased, whatever the locale; nothing else changes.
QString UpperCase(const QString& text);

// Case-insensitive comparison and sort by the user's locale.
int CompareTextLocale(const QString& a, const QString& b);
void SortTextLocale(QStringList& list);
