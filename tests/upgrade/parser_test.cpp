#include "upgrade/ibsqlparser.h"

#include "platform/codepage.h"
#include "tests/support/testenv.h"

#include <QStringEncoder>
#include <gtest/gtest.h>

// Readable failure output.
namespace {

// Every callback of one parse run, as "kind|line|text" or
// "error|line|message|text".
struct TRecorder {
    TIBSQLParser Parser;
    QStringList Events;
    bool PauseOnError = false;

    TRecorder()
    {
        Parser.SetOnParse([this](TIBParseKind kind, const QString& text) {
            Events << ParseKindName(kind) + u'|' + QString::number(Parser.LineIndex()) + u'|' + text;
        });
        Parser.SetOnError([this](const QString& error, const QString& text, int line) {
            Events << "error|" + QString::number(line) + u'|' + error + u'|' + text;
            if (PauseOnError)
                Parser.SetPaused(true);
        });
    }

    QStringList Run(const QString& script)
    {
        Events.clear();
        Parser.SetScript(ScriptLines(script));
        Parser.Parse();
        return Events;
    }
};

QStringList Split(const QString& script)
{
    TRecorder r;
    return r.Run(script);
}

// Kind of a one-statement script.
QString KindOf(const QString& statement)
{
    TRecorder r;
    const QStringList events = r.Run(statement);
    return events.size() == 1 ? events[0].section(u'|', 0, 0) : events.join(u" / ");
}

} // namespace

TEST(ParserTerminators, SeveralStatementsOnOneLineAndTheLastWithoutTerminator)
{
    EXPECT_EQ(Split("INSERT INTO T VALUES (1);INSERT INTO T VALUES (2);\nselect 1 from x"),
              (QStringList {"stmtDML|1|INSERT INTO T VALUES (1)", "stmtDML|1|INSERT INTO T VALUES (2)",
                            "stmtDML|2|select 1 from x"}));
}

TEST(ParserTerminators, SetTermAroundTriggerBody)
{
    const QString script = "SET TERM ^ ;\n"
                           "CREATE TRIGGER TR FOR T BEFORE INSERT AS\n"
                           "BEGIN\n"
                           "  NEW.A = 1;\n"
                           "END\n"
                           "^\n"
                           "SET TERM ; ^\n"
                           "DELETE FROM T;";
    EXPECT_EQ(Split(script), (QStringList {"stmtTERM|1|^",
                                           "stmtDDL|2|CREATE TRIGGER TR FOR T BEFORE INSERT AS\r\nBEGIN\r\n"
                                           "  NEW.A = 1;\r\nEND\r\n",
                                           "stmtTERM|7|;", "stmtDML|8|DELETE FROM T"}));
}

TEST(ParserTerminators, WordBeforeTerminatorIsUpperCased)
{
    TRecorder r;
    // "fim" directly before the terminator becomes FIM; a lower-case fim
    // later is an ordinary word.
    EXPECT_EQ(r.Run("SET TERM fim;\nDELETE FROM T fim\nDELETE FROM U FIM"),
              (QStringList {"stmtTERM|1|FIM", "stmtDML|2|DELETE FROM T fim\r\nDELETE FROM U "}));
    EXPECT_EQ(r.Parser.Terminator(), "FIM");
    r.Parser.SetTerminator(";");
    EXPECT_EQ(r.Run("SET TERM fim ;"), QStringList {"stmtTERM|1|fim"});
    EXPECT_EQ(r.Parser.Terminator(), "fim");

    // The statement text keeps the case; only the word is changed.
    r.Parser.SetTerminator(";");
    EXPECT_EQ(r.Run("SET autoddl off;"), QStringList {"stmtSET|1|autoddl OFF"});
    EXPECT_EQ(r.Parser.Tokens(), (QStringList {"SET", "autoddl", "OFF"}));
    EXPECT_EQ(r.Parser.TokenAsWritten(2), "off");
    EXPECT_EQ(r.Parser.TokenAsWritten(1), "autoddl");
}

TEST(ParserTerminators, MultiCharacterTerminatorIsMatchedExactly)
{
    TRecorder r;
    r.Parser.SetTerminator("!!");
    EXPECT_EQ(r.Run("DELETE FROM T !DELETE FROM U!!DELETE FROM V !!"),
              (QStringList {"stmtDML|1|DELETE FROM T !DELETE FROM U", "stmtDML|1|DELETE FROM V "}));
}

TEST(ParserQuoting, TerminatorInsideStringsNamesAndComments)
{
    EXPECT_EQ(Split("INSERT INTO T VALUES ('a;b', \"X;Y\" /* c; */);"),
              QStringList {"stmtDML|1|INSERT INTO T VALUES ('a;b', \"X;Y\" /* c; */)"});
    EXPECT_EQ(Split("UPDATE T SET A = 'It''s;';"), QStringList {"stmtDML|1|UPDATE T SET A = 'It''s;'"});
}

TEST(ParserQuoting, StringsNamesAndCommentsAcrossLines)
{
    EXPECT_EQ(Split("INSERT INTO T VALUES ('line one;\nline two');\nDELETE FROM \"A\nB;\";\n"
                    "UPDATE T /* one;\ntwo; */ SET A = 1;"),
              (QStringList {"stmtDML|1|INSERT INTO T VALUES ('line one;\r\nline two')",
                            "stmtDML|3|DELETE FROM \"A\r\nB;\"", "stmtDML|5|UPDATE T /* one;\r\ntwo; */ SET A = 1"}));
}

TEST(ParserQuoting, LeadingCommentsAreDroppedOthersKept)
{
    EXPECT_EQ(Split("/* head */ /* second\nline */\n\n  DELETE FROM T; /*/ DELETE FROM U /* tail */;"),
              (QStringList {"stmtDML|1|DELETE FROM T", "stmtDML|4|DELETE FROM U /* tail */"}));
    // A line comment is not part of the dialect.
    EXPECT_EQ(Split("-- note\nDELETE FROM T;"), QStringList {"error|1|Invalid statement|-- note\r\nDELETE FROM T"});
}

TEST(ParserQuoting, UnclosedLeadingCommentEndsTheRun)
{
    // The loop must end even though the error callback does not pause.
    EXPECT_EQ(Split("DELETE FROM T;\n/* never closed\nDELETE FROM U;\n"),
              (QStringList {"stmtDML|1|DELETE FROM T", "error|2|Invalid Comment|"}));
    TRecorder r;
    r.Run("/* open");
    EXPECT_EQ(r.Run("DELETE FROM V;"), QStringList {"stmtDML|1|DELETE FROM V"});
}

TEST(ParserBodies, ProcedureWithDefaultTerminator)
{
    const QString script = "create procedure P (A INTEGER) returns (B INTEGER) as\n"
                           "begin\n"
                           "  B = :A;\n"
                           "  suspend;\n"
                           "end;\n"
                           "DELETE FROM T;";
    EXPECT_EQ(Split(script), (QStringList {"stmtDDL|1|create procedure P (A INTEGER) returns (B INTEGER) as\r\n"
                                           "begin\r\n  B = :A;\r\n  suspend;\r\nend",
                                           "stmtDML|6|DELETE FROM T"}));
    // CREATE OR ALTER has no body detection.
    EXPECT_EQ(Split("CREATE OR ALTER PROCEDURE P AS\nBEGIN\n  EXIT;\nEND;"),
              (QStringList {"stmtDDL|1|CREATE OR ALTER PROCEDURE P AS\r\nBEGIN\r\n  EXIT",
                            "error|4|Invalid statement|END"}));
}

TEST(ParserBodies, EndWithBlankBeforeSemicolonAndTriggerSwitch)
{
    EXPECT_EQ(Split("CREATE TRIGGER TR FOR T AS BEGIN NEW.A = 1; END ;\nALTER TRIGGER TR INACTIVE;\n"
                    "alter trigger TR active ;\nDELETE FROM T;"),
              (QStringList {"stmtDDL|1|CREATE TRIGGER TR FOR T AS BEGIN NEW.A = 1; END ",
                            "stmtDDL|2|ALTER TRIGGER TR INACTIVE", "stmtDDL|3|alter trigger TR active ",
                            "stmtDML|4|DELETE FROM T"}));
    // Other terminators switch body detection off.
    TRecorder r;
    r.Parser.SetTerminator("^");
    EXPECT_EQ(r.Run("CREATE PROCEDURE P AS BEGIN EXIT; END;^"),
              QStringList {"stmtDDL|1|CREATE PROCEDURE P AS BEGIN EXIT; END;"});
}

TEST(ParserClassify, EveryRule)
{
    const std::pair<const char*, const char*> cases[] = {
        {"COMMIT;", "stmtCOMMIT"},
        {"COMMIT WORK ;", "stmtCOMMIT"},
        {"COMMIT work;", "stmtCOMMIT"},
        {"COMMIT work RETAINING;", "stmtCOMMIT"},
        {"commit retaining;", "stmtCOMMITRetaining"},
        {"ROLLBACK;", "stmtROLLBACK"},
        {"ROLLBACK RETAINING;", "stmtROLLBACKRetaining"},
        {"ROLLBACK TO SAVEPOINT SP1;", "stmtRollbackSavePoint"},
        {"ROLLBACK WORK TO SAVEPOINT SP1;", "stmtRollbackSavePoint"},
        {"RECONNECT;", "stmtReconnect"},
        {"SAVEPOINT SP1;", "stmtStartSavepoint"},
        {"BATCH START;", "stmtBatchStart"},
        {"batch execute;", "stmtBatchExecute"},
        {"RELEASE SAVEPOINT SP1;", "stmtReleaseSavePoint"},
        {"insert into t values (1);", "stmtDML"},
        {"DELETE FROM T;", "stmtDML"},
        {"SELECT * FROM T;", "stmtDML"},
        {"UPDATE T SET A = 1;", "stmtDML"},
        {"EXECUTE PROCEDURE P;", "stmtDML"},
        {"EXECUTE BLOCK AS BEGIN END;", "stmtDML"},
        {"CONNECT 'x.fdb';", "stmtCONNECT"},
        {"CREATE DATABASE 'x.fdb';", "stmtCREATE"},
        {"create schema 'x.fdb';", "stmtCREATE"},
        {"DROP DATABASE;", "stmtDrop"},
        {"DECLARE EXTERNAL FUNCTION F;", "stmtDDL"},
        {"CREATE TABLE T (A INTEGER);", "stmtDDL"},
        {"ALTER TABLE T ADD B INTEGER;", "stmtDDL"},
        {"GRANT ALL ON T TO PUBLIC;", "stmtDDL"},
        {"REVOKE ALL ON T FROM PUBLIC;", "stmtDDL"},
        {"DROP TABLE T;", "stmtDDL"},
        {"SET GENERATOR G TO 5;", "stmtDDL"},
        {"SET STATISTICS index IX;", "stmtDDL"},
        {"SET STATISTICS ON;", "stmtSET"},
        {"SET SQL DIALECT 3;", "stmtSET"},
        {"SET SQL dialect 3;", "stmtSET"},
        {"SET AUTODDL ON;", "stmtSET"},
        {"SET NAMES WIN1252;", "stmtSET"},
        {"SET SAVEPOINTS OFF;", "stmtSET"},
        {"SET PASSWORD 'x' FOR U;", "stmtServerSET"},
        {"SET TERM !! ;", "stmtTERM"},
    };
    for (const auto& [statement, kind] : cases)
        EXPECT_EQ(KindOf(statement), kind) << statement;
}

TEST(ParserClassify, NotRecognised)
{
    const char* const cases[] = {
        "COMMIT work ;",           // two words, the second neither WORK nor RETAINING as written
        "ROLLBACK to savepoint SP1;",
        "ROLLBACK WORK;",
        "CREATE\tTABLE T (A INTEGER);", // the tab makes one word
        "SET TRANSACTION;",
        "COMMENT ON TABLE T IS 'x';",
        "BATCH STOP;",
        "RELEASE SP1;",
        "SET TERM;",
        "SET TERM ! ! ;",
        "SET SQL DIALECT;",
        "SET AUTODDL;",
        "SET FOO BAR;",
        "SHOW TABLES;",
        "DELETE;", // one word
    };
    for (const char* statement : cases)
        EXPECT_EQ(Split(statement), QStringList {QString("error|1|Invalid statement|") + QString(statement).chopped(1)})
            << statement;
}

TEST(ParserClassify, TextsHandedOverForSetAndTerm)
{
    EXPECT_EQ(Split("SET   SQL   DIALECT   3 ;\nSET TERM # ;"),
              (QStringList {"stmtSET|1|SQL DIALECT 3", "stmtTERM|2|#"}));
    EXPECT_EQ(Split(";;\n  \n;"), QStringList {});
}

TEST(ParserInput, IncludeFilesInEveryEncoding)
{
    TScratchDir dir;
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    WriteBytes(dir.File("utf8.sql"), "\xEF\xBB\xBF" "INSERT INTO T VALUES ('\xC3\xA7');\r\n");
    WriteBytes(dir.File("utf16.sql"), QByteArray(utf16.encode(u"INSERT INTO T VALUES ('\u00e3');\r\n\r\n")));
    WriteBytes(dir.File("ansi.sql"), ToAnsi(QString("INSERT INTO T VALUES ('\u00e9');\nINPUT " + dir.File("nested.sql") + ";\nx;")));
    WriteBytes(dir.File("nested.sql"), "DELETE FROM N;");

    const QString script = "INPUT '" + dir.File("utf8.sql") + "';\n"
                           "INPUT \"" + dir.File("utf16.sql") + "\";\n"
                           "INPUT " + dir.File("ansi.sql") + ";\n"
                           "DELETE FROM T;";
    // Statements read from an include file keep the INPUT's line number; the
    // nested INPUT replaces the rest of its file.
    EXPECT_EQ(Split(script), (QStringList {QString("stmtDML|1|INSERT INTO T VALUES ('\u00e7')"),
                                           QString("stmtDML|2|INSERT INTO T VALUES ('\u00e3')"),
                                           QString("stmtDML|3|INSERT INTO T VALUES ('\u00e9')"),
                                           "stmtDML|3|DELETE FROM N", "stmtDML|4|DELETE FROM T"}));
}

TEST(ParserInput, UnreadableFile)
{
    TScratchDir dir;
    const QString missing = dir.File("missing.sql");
    const QStringList events = Split("INPUT " + missing + ";\nDELETE FROM T;");
    ASSERT_EQ(events.size(), 2);
    EXPECT_TRUE(events[0].startsWith("error|1|Cannot open file \"" + missing + "\"")) << events[0].toStdString();
    EXPECT_TRUE(events[0].endsWith("|INPUT " + missing)) << events[0].toStdString();
    EXPECT_EQ(events[1], "stmtDML|2|DELETE FROM T");
}

TEST(ParserInput, EndlessIncludesEndAsParseErrors)
{
    TScratchDir dir;
    WriteBytes(dir.File("self.sql"), ("DELETE FROM S;\nINPUT " + dir.File("self.sql") + ";\n").toUtf8());
    WriteBytes(dir.File("a.sql"), ("INPUT " + dir.File("b.sql") + ";").toUtf8());
    WriteBytes(dir.File("b.sql"), ("INPUT " + dir.File("a.sql") + ";").toUtf8());
    for (const char* name : {"self.sql", "a.sql"}) {
        const QStringList events = Split("INPUT " + dir.File(name) + ";\nDELETE FROM T;");
        ASSERT_FALSE(events.isEmpty());
        EXPECT_TRUE(events.contains("stmtDML|2|DELETE FROM T")) << name;
        const QStringList errors = events.filter("error|");
        ASSERT_EQ(errors.size(), 1) << name;
        EXPECT_TRUE(errors[0].startsWith("error|1|INPUT nested more than 16 deep")) << errors[0].toStdString();
    }
    EXPECT_EQ(Split("INPUT /dev/zero;\nDELETE FROM T;"),
              (QStringList {"error|1|Cannot read file \"/dev/zero\". It is not a regular file|INPUT /dev/zero",
                            "stmtDML|2|DELETE FROM T"}));
}

TEST(ParserState, PendingTextAndTerminatorCarryIntoTheNextRun)
{
    TRecorder r;
    r.PauseOnError = true;
    EXPECT_EQ(r.Run("SET TERM ^ ;\nBAD ONE^ DELETE FROM T^\nDELETE FROM U^"),
              (QStringList {"stmtTERM|1|^", "error|2|Invalid statement|BAD ONE"}));
    EXPECT_TRUE(r.Parser.Paused());
    // The rest of line 2 is still pending and comes first.
    EXPECT_EQ(r.Run("DELETE FROM V^"), (QStringList {"stmtDML|0|DELETE FROM T", "stmtDML|1|DELETE FROM V"}));
    EXPECT_EQ(r.Parser.Terminator(), "^");
}

TEST(ParserState, ResumingAfterPause)
{
    TRecorder r;
    r.PauseOnError = true;
    r.Run("DELETE FROM A;\nOOPS;\nDELETE FROM B;");
    ASSERT_EQ(r.Events.size(), 2);
    r.Parser.SetPaused(false);
    EXPECT_EQ(r.Events.last(), "stmtDML|3|DELETE FROM B");
    EXPECT_FALSE(r.Parser.Paused());
}
