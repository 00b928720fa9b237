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

// Whether a script word is the keyword, letter case ignored.
bool SameText(const QString& word, const char* keyword);

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
    // What the loop does with one statement of each kind.
    void HandOver(TIBParseKind kind, const QString& text);
    QString TakeStatement();
    TIBParseKind ClassifyStatement() const;
    TIBParseKind ClassifyTransactionEnd(const QString& w1) const;
    TIBParseKind ClassifyCommand(const QString& w1, const QString& w2) const;
    TIBParseKind ClassifySet(const QString& w2) const;
    bool SkipLeadingComments();
    void ScanToken();
    // One character of the scan: moves the state; true when it ends the word.
    bool Step(QStringView work, qsizetype p);
    bool BodyEnded() const;
    bool TriggerSwitched() const;
    void EndStatement(QStringView word, bool atTerminator);
    void AddWord(const QString& token);
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
    // Where the token scan stands: in plain text, inside a string, a quoted
    // name or a comment, or past the end of the statement.
    enum TScanState { ssNormal, ssString, ssQuoted, ssComment, ssDone } FScan = ssNormal;
    bool FLooping = false;
};
