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

// Every control character of the text (codes below 32, DEL, and 128 to 159)
// written as an escape, so that text from a server, shown on a terminal or
// kept in a log, can neither move the cursor, erase a line nor ring: tab, CR
// and LF as \t, \r and \n, the others as \x and two hexadecimal digits (ESC
// is \x1B). Everything else, the backslash included, stays as it is.
QString EscapeControls(QStringView text);
// The same, but each line break (CR LF, a lone CR or a lone LF) becomes
// lineBreak: a multi-line message kept on one line, or broken for a terminal.
QString EscapeControls(QStringView text, QStringView lineBreak);

// The last blank-separated word of a trimmed line, at most 1000 characters.
QString UltimaPalavra(const QString& line);
// Every occurrence of the one-character text find replaced by replacement.
QString TrocaCaractere(const QString& text, const QString& find, const QString& replacement);

// Equal but for letter case.
bool SameText(QStringView text, const char* latin1);
