#include "upgrade/ibsqlparser.h"

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/scoped.h"
#include "platform/text.h"

#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

namespace {

bool IsBlank(QChar c)
{
    return c.unicode() < 33;
}

// INPUT may name INPUT again, up to this depth: a file that names itself, or
// two that name each other, must end as a parse error, not run for ever.
constexpr int maxInputDepth = 16;

// An include file: a byte-order mark selects UTF-8 or UTF-16, anything else
// is read in the ANSI code page. Only a regular file: a device such as
// /dev/zero would be read without end.
QStringList LoadTextFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". It is not a regular file").arg(fileName));
    const QByteArray bytes = ReadFileBytes(fileName);
    const auto bom = QStringConverter::encodingForData(bytes);
    if (!bom)
        return ScriptLines(FromAnsi(bytes));
    QStringDecoder decoder(*bom);
    return ScriptLines(decoder.decode(bytes));
}

} // namespace

QString ParseKindName(TIBParseKind kind)
{
    static const char* const names[] = {
        "stmtDDL", "stmtDML", "stmtSET", "stmtCONNECT", "stmtDrop", "stmtCREATE", "stmtINPUT", "stmtUNK",
        "stmtEMPTY", "stmtTERM", "stmtERR", "stmtCOMMIT", "stmtROLLBACK", "stmtReconnect",
        "stmtRollbackSavePoint", "stmtReleaseSavePoint", "stmtStartSavepoint", "stmtCOMMITRetaining",
        "stmtROLLBACKRetaining", "stmtBatchStart", "stmtBatchExecute", "stmtServerSET",
    };
    static_assert(std::size(names) == stmtServerSET + 1);
    return QString::fromLatin1(names[kind]);
}

QStringList ScriptLines(const QString& text)
{
    return SplitLines(text);
}

TIBSQLParser::TIBSQLParser()
    : FTerminator(QStringLiteral(";"))
{
}

void TIBSQLParser::SetScript(const QStringList& lines)
{
    FScript = lines;
    FPaused = false;
    FScriptIndex = 0;
    FImportIndex = 0;
    FInput.clear();
}

void TIBSQLParser::SetPaused(bool paused)
{
    const bool resume = FPaused && !paused;
    FPaused = paused;
    // A callback that pauses and resumes within one statement leaves the
    // running loop to carry on by itself.
    if (resume && !FLooping)
        RunLoop();
}

void TIBSQLParser::Parse()
{
    FScriptIndex = 0;
    FImportIndex = 0;
    FInputDepth = 0;
    FInput.clear();
    FPaused = false;
    RunLoop();
}

QString TIBSQLParser::TokenAsWritten(int index) const
{
    return index == FUpperedToken ? FUpperedAsWritten : FTokens.value(index);
}

void TIBSQLParser::RunLoop()
{
    const TScopedFlag looping(FLooping);

    while ((FScriptIndex < FScript.size() || !WorkBlank() || FImportIndex < FInput.size()) && !FPaused) {
        const QString text = TakeStatement();
        HandOver(ClassifyStatement(), text);
    }
}

void TIBSQLParser::HandOver(TIBParseKind kind, const QString& text)
{
    switch (kind) {
    case stmtSET: {
        QString words;
        for (qsizetype i = 1; i < FTokens.size(); ++i)
            words += FTokens[i] + u' ';
        NotifyStatement(kind, TrimControl(words));
        break;
    }
    case stmtINPUT:
        try {
            LoadIncludeFile();
        } catch (const Exception& e) {
            NotifyError(e.Message(), text);
        }
        break;
    case stmtEMPTY:
        break;
    case stmtTERM:
        NotifyStatement(kind, FTokens[2]);
        FTerminator = FTokens[2];
        break;
    case stmtERR:
        NotifyError(QStringLiteral("Invalid statement"), text);
        break;
    default:
        NotifyStatement(kind, text);
        break;
    }
}

void TIBSQLParser::NotifyStatement(TIBParseKind kind, const QString& text)
{
    if (FOnParse)
        FOnParse(kind, text);
}

void TIBSQLParser::NotifyError(const QString& message, const QString& text)
{
    if (FOnError)
        FOnError(message, text, FLineIndex);
}

bool TIBSQLParser::WorkBlank()
{
    qsizetype i = std::max(FBlankTo, FWorkPos);
    while (i < FWork.size() && IsBlank(FWork[i]))
        ++i;
    FBlankTo = i;
    return i == FWork.size();
}

void TIBSQLParser::Consume(qsizetype count)
{
    FWorkPos += count;
    if (FWorkPos >= FWork.size())
        DropWork();
}

void TIBSQLParser::DropWork()
{
    FWork.resize(0); // keeps the buffer for the next line
    FWorkPos = 0;
    FBlankTo = 0;
    FCloseFrom = 0;
}

void TIBSQLParser::SkipBlanks()
{
    qsizetype n = 0;
    while (n < WorkLength() && IsBlank(FWork[FWorkPos + n]))
        ++n;
    Consume(n);
}

void TIBSQLParser::AppendLine(const QString& line)
{
    // Cutting the consumed front only once it is at least half the string
    // keeps the copying proportional to what was consumed.
    if (FWorkPos > 0 && FWorkPos * 2 >= FWork.size()) {
        FWork.remove(0, FWorkPos);
        FBlankTo = std::max<qsizetype>(0, FBlankTo - FWorkPos);
        FCloseFrom = std::max<qsizetype>(0, FCloseFrom - FWorkPos);
        FWorkPos = 0;
    }
    FWork += QLatin1StringView("\r\n");
    FWork += line;
}

bool TIBSQLParser::ReadMoreLines()
{
    const bool fromInput = FImportIndex < FInput.size();
    FInInput = fromInput;
    const QStringList& source = fromInput ? FInput : FScript;
    int& index = fromInput ? FImportIndex : FScriptIndex;
    if (index >= source.size())
        return false;
    if (!fromInput)
        FInputDepth = 0; // back in the script: the INPUT chain has ended
    do {
        AppendLine(source[index++]);
    } while (index < source.size() && WorkBlank());
    // An include file that ends in blank lines hands over to the script.
    if (fromInput && WorkBlank())
        ReadMoreLines();
    return true;
}

QString TIBSQLParser::TakeStatement()
{
    FTokens.clear();
    FUpperedToken = -1;
    FInBody = false;
    if (WorkBlank())
        ReadMoreLines();
    if (!FInInput)
        FLineIndex = FScriptIndex;
    if (!SkipLeadingComments()) {
        NotifyError(QStringLiteral("Invalid Comment"), QString());
        // The open comment would be found again by every later statement.
        DropWork();
        return QString();
    }
    FScan = ssNormal;
    FStatement.clear();
    while (FScan != ssDone) {
        if (WorkLength() == 0 && !ReadMoreLines())
            break;
        ScanToken();
    }
    return FStatement;
}

qsizetype TIBSQLParser::FindCommentClose()
{
    const qsizetype found = FWork.indexOf(QLatin1StringView("*/"), std::max(FWorkPos, FCloseFrom));
    if (found < 0)
        FCloseFrom = std::max(FWorkPos, FWork.size() - 1);
    return found;
}

bool TIBSQLParser::SkipLeadingComments()
{
    SkipBlanks();
    while (QStringView(FWork).sliced(FWorkPos).startsWith(QLatin1StringView("/*"))) {
        qsizetype close;
        while ((close = FindCommentClose()) < 0)
            if (!ReadMoreLines())
                return false;
        Consume(close + 2 - FWorkPos);
        SkipBlanks();
        if (WorkLength() == 0)
            ReadMoreLines();
        SkipBlanks();
    }
    SkipBlanks();
    return true;
}

bool TIBSQLParser::BodyEnded() const
{
    const qsizetype count = FTokens.size();
    return FInBody && count >= 2 && FTokens[count - 1] == u";" && SameText(FTokens[count - 2], "END");
}

bool TIBSQLParser::TriggerSwitched() const
{
    return FInBody && FTokens.size() == 5 && FTokens[4] == u";" && SameText(FTokens[0], "ALTER")
        && SameText(FTokens[1], "TRIGGER") && (SameText(FTokens[3], "ACTIVE") || SameText(FTokens[3], "INACTIVE"));
}

void TIBSQLParser::EndStatement(QStringView word, bool atTerminator)
{
    FScan = ssDone;
    FStatement += word;
    if (atTerminator) {
        Consume(word.size() + FTerminator.size());
    } else {
        // The statement ends before the ";" that closed its final word.
        Consume(word.size());
        FInBody = false;
        FStatement.truncate(std::max<qsizetype>(0, FStatement.lastIndexOf(u';')));
    }
    const QString written = TrimControl(word);
    if (!written.isEmpty()) {
        FUpperedToken = int(FTokens.size());
        FUpperedAsWritten = written;
        FTokens.append(QLocale().toUpper(written));
    }
}

// Strings and comments are read by this splitter's own rules, not by those
// of the access layer's marker scan (see PreprocessSQL in db/ibsql.cpp for
// how they differ and why).
bool TIBSQLParser::Step(QStringView work, qsizetype p)
{
    const QChar c = work[p];
    // "/*" opens a comment outside strings; "*/" closes it, even where its
    // "/" would open another.
    if ((FScan == ssNormal || FScan == ssComment) && c == u'/' && p + 1 < work.size() && work[p + 1] == u'*')
        FScan = ssComment;
    if (FScan == ssComment && p > 0 && work[p - 1] == u'*' && c == u'/')
        FScan = ssNormal;
    if (FScan == ssComment)
        return false;
    switch (c.unicode()) {
    case u' ':
        return FScan == ssNormal;
    case u'"':
        if (FScan == ssString)
            return false;
        FScan = FScan == ssQuoted ? ssNormal : ssQuoted;
        return FScan == ssNormal;
    case u'\'':
        if (FScan == ssQuoted)
            return false;
        FScan = FScan == ssString ? ssNormal : ssString;
        return FScan == ssNormal;
    default:
        return false;
    }
}

void TIBSQLParser::ScanToken()
{
    const QStringView work = QStringView(FWork).sliced(FWorkPos);
    const qsizetype n = work.size();
    // The words do not change while this one is read.
    const bool bodyEnded = BodyEnded();
    const bool triggerSwitched = TriggerSwitched();
    const QChar termStart = FTerminator.isEmpty() ? QChar() : FTerminator.front();
    qsizetype p = 0;
    bool wordEnded = false;
    while (p < n && !wordEnded) {
        if (FScan == ssNormal) {
            const bool atTerminator = !FInBody && !FTerminator.isEmpty() && work[p] == termStart
                && work.sliced(p).startsWith(FTerminator);
            if (atTerminator || bodyEnded || triggerSwitched) {
                EndStatement(work.first(p), atTerminator);
                return;
            }
        }
        wordEnded = Step(work, p);
        ++p;
    }
    while (p < n - 1 && IsBlank(work[p]))
        ++p;

    const QStringView word = work.first(p);
    FStatement += word;
    const QString token = TrimControl(word);
    Consume(p); // work is not to be used from here on
    if (!token.isEmpty())
        AddWord(token);
}

void TIBSQLParser::AddWord(const QString& token)
{
    FTokens.append(token);
    // A procedure or trigger body holds the default terminator; it ends at
    // its final END instead.
    if (FTokens.size() == 2 && (SameText(FTokens[0], "CREATE") || SameText(FTokens[0], "ALTER"))
        && (SameText(token, "PROCEDURE") || SameText(token, "TRIGGER")) && FTerminator == u";")
        FInBody = true;
    if (!FInBody)
        return;
    if (SameText(token, "END;")) {
        FTokens.last() = token.first(3);
        FTokens.append(QStringLiteral(";"));
    } else if (FTokens.size() == 4 && SameText(FTokens[0], "ALTER") && SameText(FTokens[1], "TRIGGER")
               && (SameText(token, "ACTIVE;") || SameText(token, "INACTIVE;"))) {
        FTokens.last() = token.first(SameText(token, "ACTIVE;") ? 6 : 8);
        FTokens.append(QStringLiteral(";"));
    }
}

TIBParseKind TIBSQLParser::ClassifyStatement() const
{
    const qsizetype n = FTokens.size();
    if (n == 0)
        return stmtEMPTY;
    const QString w1 = UpperCase(FTokens[0]);
    if (w1 == u"COMMIT" || w1 == u"ROLLBACK")
        return ClassifyTransactionEnd(w1);
    if (w1 == u"RECONNECT")
        return stmtReconnect;
    if (w1 == u"SAVEPOINT")
        return stmtStartSavepoint;
    if (n < 2)
        return stmtERR;
    const QString w2 = UpperCase(FTokens[1]);
    return w1 == u"SET" ? ClassifySet(w2) : ClassifyCommand(w1, w2);
}

// The second and later words of these compare as written: only a word the
// terminator follows directly arrives upper-cased.
TIBParseKind TIBSQLParser::ClassifyTransactionEnd(const QString& w1) const
{
    const qsizetype n = FTokens.size();
    if (w1 == u"COMMIT") {
        if (n != 2)
            return stmtCOMMIT;
        if (FTokens[1] == u"RETAINING")
            return stmtCOMMITRetaining;
        return FTokens[1] == u"WORK" ? stmtCOMMIT : stmtERR;
    }
    if (n == 1)
        return stmtROLLBACK;
    if (n == 2 && FTokens[1] == u"RETAINING")
        return stmtROLLBACKRetaining;
    if ((n == 4 && FTokens[1] == u"TO" && FTokens[2] == u"SAVEPOINT")
        || (n == 5 && FTokens[2] == u"TO" && FTokens[3] == u"SAVEPOINT"))
        return stmtRollbackSavePoint;
    return stmtERR;
}

TIBParseKind TIBSQLParser::ClassifyCommand(const QString& w1, const QString& w2) const
{
    if (w1 == u"BATCH") {
        if (w2 == u"START")
            return stmtBatchStart;
        return w2 == u"EXECUTE" ? stmtBatchExecute : stmtERR;
    }
    if (w1 == u"RELEASE" && w2 == u"SAVEPOINT")
        return stmtReleaseSavePoint;
    if (w1 == u"INSERT" || w1 == u"DELETE" || w1 == u"SELECT" || w1 == u"UPDATE" || w1 == u"EXECUTE")
        return stmtDML;
    if (w1 == u"INPUT")
        return stmtINPUT;
    if (w1 == u"CONNECT")
        return stmtCONNECT;
    if (w1 == u"CREATE" && (w2 == u"DATABASE" || w2 == u"SCHEMA"))
        return stmtCREATE;
    if (w1 == u"DROP" && w2 == u"DATABASE")
        return stmtDrop;
    if (w1 == u"DECLARE" || w1 == u"CREATE" || w1 == u"ALTER" || w1 == u"GRANT" || w1 == u"REVOKE"
        || w1 == u"DROP")
        return stmtDDL;
    return stmtERR;
}

TIBParseKind TIBSQLParser::ClassifySet(const QString& w2) const
{
    const qsizetype n = FTokens.size();
    if (w2 == u"GENERATOR" || (w2 == u"STATISTICS" && n > 2 && SameText(FTokens[2], "INDEX")))
        return stmtDDL;
    if (w2 == u"TERM")
        return n == 3 ? stmtTERM : stmtERR;
    if (w2 == u"SQL")
        return n == 4 && SameText(FTokens[2], "DIALECT") ? stmtSET : stmtERR;
    if (w2 == u"AUTODDL" || w2 == u"STATISTICS" || w2 == u"NAMES" || w2 == u"SAVEPOINTS")
        return n == 3 ? stmtSET : stmtERR;
    return w2 == u"PASSWORD" ? stmtServerSET : stmtERR;
}

void TIBSQLParser::LoadIncludeFile()
{
    FInput.clear();
    FImportIndex = 0;
    QString fileName = TokenAsWritten(1);
    const auto isQuote = [](QChar c) { return c == u'\'' || c == u'"'; };
    if (!fileName.isEmpty() && isQuote(fileName.front()))
        fileName.remove(0, 1);
    if (!fileName.isEmpty() && isQuote(fileName.back()))
        fileName.chop(1);
    if (++FInputDepth > maxInputDepth)
        throw Exception(QStringLiteral("INPUT nested more than %1 deep at \"%2\"").arg(maxInputDepth).arg(fileName));
    FInput = LoadTextFile(fileName);
}
