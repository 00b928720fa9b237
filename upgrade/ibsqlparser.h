// Statement splitter of the upgrade scripts: turns script lines into
// classified statements, follows SET TERM and reads INPUT include files.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The order is part of the contract: callers compare and store these values.
enum TIBParseKind {
    stmtDDL,
    stmtDML,
    stmtSET,
    stmtCONNECT,
    stmtDrop,
    stmtCREATE,
    stmtINPUT,
    stmtUNK,
    stmtEMPTY,
    stmtTERM,
    stmtERR,
    stmtCOMMIT,
    stmtROLLBACK,
    stmtReconnect,
    stmtRollbackSavePoint,
    stmtReleaseSavePoint,
    stmtStartSavepoint,
    stmtCOMMITRetaining,
    stmtROLLBACKRetaining,
    stmtBatchStart,
    stmtBatchExecute,
    stmtServerSET,
};

// The enumeration member's name, e.g. "stmtDDL".
QString ParseKindName(TIBParseKind kind);

// Lines of a text broken at CR LF, LF or CR; a final line break opens no
// further line.
QStringList ScriptLines(const QString& text);

// Callbacks capture their owner, so they take no sender.
using TIBSQLParseStmt = std::function<void(TIBParseKind kind, const QString& sqlText)>;
using TIBSQLParseError = std::function<void(const QString& error, const QString& sqlText, int lineIndex)>;

class TIBSQLParser {
public:
    TIBSQLParser();

    // Assigning a script resets the reading positions (not the pending text);
    // Lines() gives the lines themselves, to change them without any reset.
    void SetScript(const QStringList& lines);
    QStringList& Lines() { return FScript; }
    const QStringList& Lines() const { return FScript; }

    const QString& Terminator() const { return FTerminator; }
    void SetTerminator(const QString& terminator) { FTerminator = terminator; }

    // Setting it stops the loop before the next statement; clearing it
    // resumes the loop where it stopped.
    bool Paused() const { return FPaused; }
    void SetPaused(bool paused);

    // Reads the script from its first line. Pending text and the terminator
    // of the previous run carry over.
    void Parse();

    // Script line number the current statement began on (see TakeStatement).
    int LineIndex() const { return FLineIndex; }

    // Words of the statement last handed out. The word the terminator
    // followed directly is upper-cased; TokenAsWritten gives any word with
    // its letter case as in the script, for names of files.
    const QStringList& Tokens() const { return FTokens; }
    QString TokenAsWritten(int index) const;

    void SetOnParse(TIBSQLParseStmt handler) { FOnParse = std::move(handler); }
    void SetOnError(TIBSQLParseError handler) { FOnError = std::move(handler); }

private:
    void RunLoop();
    QString TakeStatement();
    TIBParseKind ClassifyStatement() const;
    bool SkipLeadingComments();
    void ScanToken();
    bool ReadMoreLines();
    void LoadIncludeFile();
    void NotifyStatement(TIBParseKind kind, const QString& text);
    void NotifyError(const QString& message, const QString& text);

    // The pending text is FWork from FWorkPos on; consuming moves the
    // position instead of cutting the string, so splitting stays linear.
    qsizetype WorkLength() const { return FWork.size() - FWorkPos; }
    bool WorkBlank();
    void Consume(qsizetype count);
    void SkipBlanks();
    void AppendLine(const QString& line);
    void DropWork();
    qsizetype FindCommentClose();

    TIBSQLParseError FOnError;
    TIBSQLParseStmt FOnParse;
    QStringList FScript;
    QStringList FInput;
    QString FTerminator;
    bool FPaused = false;
    QStringList FTokens;
    QString FWork;
    int FScriptIndex = 0;
    int FLineIndex = 0;
    int FImportIndex = 0;
    bool FInInput = false;
    int FInputDepth = 0; // include files loaded since the last script line

    qsizetype FWorkPos = 0;
    qsizetype FBlankTo = 0;      // FWork is blank from FWorkPos up to here
    qsizetype FCloseFrom = 0;    // no "*/" starts before here
    QString FStatement;
    int FUpperedToken = -1;
    QString FUpperedAsWritten;
    bool FInBody = false;
    bool FInString = false;
    bool FInQuoted = false;
    bool FInComment = false;
    bool FDone = false;
    bool FLooping = false;
};
