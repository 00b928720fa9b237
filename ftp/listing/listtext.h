// Text rules every listing parser shares: line classes, month names, number
// syntax and the field-taking buffer.
#pragma once

#include "platform/datetime.h"

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

namespace ftplist {

bool IsBlankLine(QStringView line);
// "total 24" and its translations; a line ending in ":" is a banner instead.
bool IsTotalLine(QStringView line);
// The ten-character permission field of a Unix long listing (at the start of `text`).
bool IsUnixPermission(QStringView text);
// The header of a sub-directory in a recursive listing.
bool IsSubDirBanner(QStringView line);

// Month number from a month name of the listing languages, 0 for none.
int MonthFromName(QStringView word);
inline bool IsMonthName(QStringView word) { return MonthFromName(word) != 0; }

// A number is decimal, or hexadecimal after "$", "x" or "0x", with optional
// leading blanks and sign, and must convert in full to 64 bits.
bool TryParseNumber(QStringView text, qint64& value);
inline bool IsNumber(QStringView text)
{
    qint64 v;
    return TryParseNumber(text, v);
}
// The same after trimming both ends; `def` for a text that is no number.
qint64 NumberDef(QStringView text, qint64 def = 0);
// The same, raising EConvertError "'%s' is not a valid integer value".
int NumberOrFail(QStringView text);

// Removes one final `marker` from `field` when that is where it first occurs.
QStringView ChopFirstAtEnd(QStringView field, QChar marker);

// Days and time of day as one value (the time counts forward from midnight
// also before 1899).
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// The words of a line at blanks (runs count as one), up to `most` of them.
using TWords = QVarLengthArray<QStringView, 12>;
TWords SplitWords(QStringView line, int most = 12);

// The line's text read field by field: leading blanks are skipped, the
// field ends at the next blank, and that one blank goes with it.
class TFieldBuffer {
public:
    explicit TFieldBuffer(QStringView text) : FText(text) {}

    QStringView Take();
    QStringView Peek() const;
    void SkipBlanks();
    // Puts text back in front of what is left.
    void Prepend(const QString& text);
    // Replaces what is left by a text of its own.
    void Assign(QString text);
    // The length of the first `count` fields with the blanks before them.
    qsizetype FieldsLength(int count) const;
    QStringView Rest() const { return FText; }
    void SetRest(QStringView text) { FText = text; }
    bool IsEmpty() const { return FText.isEmpty(); }

private:
    QStringView FText;
    QString FOwned; // backs FText once text was put back
};

} // namespace ftplist
