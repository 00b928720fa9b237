// The small text routines the program uses in many places, one copy each.
#pragma once

#include <QFlags>
#include <QString>
#include <QStringList>
#include <QStringView>

// How SplitLines reads line breaks. Without options CR LF, LF and a lone CR
// each end a line, and a break at the very end of the text adds no empty
// line, so an empty text has no lines.
enum TLineSplit {
    // Only LF ends a line; one CR at the end of each line is dropped, a CR
    // elsewhere stays in the line (the settings files' rule).
    lsLineFeedOnly = 1,
    // A break at the end of the text ends one more, empty, line, and an
    // empty text is one empty line (a caption shows them).
    lsKeepLastEmpty = 2,
};
Q_DECLARE_FLAGS(TLineSplitOptions, TLineSplit)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLineSplitOptions)

QStringList SplitLines(QStringView text, TLineSplitOptions options = {});

// Blanks and control characters (code 32 and below) removed at both ends.
QString TrimControl(QStringView text);

// Equal but for letter case.
bool SameText(QStringView text, const char* latin1);
