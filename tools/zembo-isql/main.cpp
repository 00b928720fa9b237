// zembo-isql: tries a catalogue script before it is released.
//
//   zembo-isql --split [--term X] SCRIPT
//       lists the statements the splitter hands out, and every parse error
//   zembo-isql [--user U] [--password P] [--dialect N]
//              [--server-type IBServer|IBEmbedded] DATABASE SCRIPT
//       runs the script as the upgrade does
//
// SCRIPT is read in the ANSI code page; "-" reads standard input.
#include "tools/escape.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "db/ibdatabase.h"
#include "settings.h"
#include "upgrade/ibscript.h"
#include "upgrade/ibsqlparser.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <optional>

namespace {

enum : int { exitOk = 0, exitFailed = 1, exitUsage = 2 };

const char* const Usage = "usage: zembo-isql --split [--term X] SCRIPT\n"
                          "       zembo-isql [--user U] [--password P] [--dialect N]\n"
                          "                  [--server-type IBServer|IBEmbedded] DATABASE SCRIPT\n";

struct TOptions {
    bool Split = false;
    std::optional<QString> Term;
    std::optional<QString> User;
    std::optional<QString> Password;
    std::optional<int> Dialect;
    std::optional<QString> ServerType;
    QStringList Operands;
};

class EUsage : public Exception {
public:
    using Exception::Exception;
};

TOptions ReadOptions(const QStringList& args)
{
    TOptions o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                throw EUsage(a + " needs a value");
            return args[++i];
        };
        if (a == u"--split") {
            o.Split = true;
        } else if (a == u"--term") {
            o.Term = value();
        } else if (a == u"--user") {
            o.User = value();
        } else if (a == u"--password") {
            o.Password = value();
        } else if (a == u"--dialect") {
            bool ok = false;
            o.Dialect = value().toInt(&ok);
            if (!ok || *o.Dialect < 1 || *o.Dialect > 3)
                throw EUsage("--dialect takes 1, 2 or 3");
        } else if (a == u"--server-type") {
            o.ServerType = value();
            if (*o.ServerType != u"IBServer" && *o.ServerType != u"IBEmbedded")
                throw EUsage("--server-type takes IBServer or IBEmbedded");
        } else if (a.startsWith(u"--")) {
            throw EUsage("unknown option " + a);
        } else {
            o.Operands << a;
        }
    }
    if (o.Split) {
        if (o.Operands.size() != 1 || o.User || o.Password || o.Dialect || o.ServerType)
            throw EUsage("--split takes one SCRIPT and no connection options");
        if (o.Term && o.Term->isEmpty())
            throw EUsage("--term needs a terminator");
    } else if (o.Operands.size() != 2 || o.Term) {
        throw EUsage("DATABASE and SCRIPT expected");
    }
    return o;
}

QStringList ReadScript(const QString& name)
{
    if (name != u"-")
        return ReadAnsiLines(name);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        throw EInOutError("Cannot read standard input");
    return ScriptLines(FromAnsi(in.readAll()));
}

int SplitScript(const TOptions& o, QTextStream& out)
{
    TIBSQLParser parser;
    if (o.Term)
        parser.SetTerminator(*o.Term);
    parser.SetOnParse([&](TIBParseKind kind, const QString& text) {
        out << ParseKindName(kind) << '\t' << parser.LineIndex() << '\t' << Escaped(text) << '\n';
    });
    // Unlike the runner, go on after an error, so that all of them are listed.
    parser.SetOnError([&](const QString& error, const QString& text, int lineIndex) {
        out << "error\t" << lineIndex << '\t' << Escaped(error) << '\t' << Escaped(text) << '\n';
    });
    parser.SetScript(ReadScript(o.Operands[0]));
    parser.Parse();
    return exitOk;
}

// Runs the script as the upgrade does: one script transaction, committed at
// the end whether or not a statement failed, so that what the upgrade would
// keep is kept here too.
int RunScript(const TOptions& o, QTextStream& out, QTextStream& err)
{
    const QStringList lines = ReadScript(o.Operands[1]);
    TIBDatabase database;
    TIBTransaction transaction;
    database.SetServerType(o.ServerType.value_or(QStringLiteral("IBServer")));
    database.SetSQLDialect(o.Dialect.value_or(1));
    database.SetLoginPrompt(false);
    database.SetParams({"user_name=" + o.User.value_or(QString::fromLatin1(Settings::CustomerDbUser)),
                        "password=" + o.Password.value_or(QString::fromLatin1(Settings::CustomerDbPassword))});
    database.SetDatabaseName(o.Operands[0]);
    database.SetDefaultTransaction(&transaction);
    transaction.SetDefaultDatabase(&database);
    try {
        database.Open();
    } catch (const Exception& e) {
        err << "zembo-isql: " << e.Message() << '\n';
        return exitUsage;
    }

    TIBScript script;
    script.SetDatabase(&database);
    script.SetTransaction(&transaction);
    script.SetTerminator(QStringLiteral(";"));
    script.SetOnParse([&](TIBParseKind kind, const QString&) { out << ParseKindName(kind) << '\n'; });
    // The upgrade stops quietly at a parse error; whoever tries a script
    // wants to hear of it.
    int status = exitOk;
    script.SetOnParseError([&](const QString& error, const QString& text, int lineIndex) {
        out.flush();
        err << "zembo-isql: line " << lineIndex << ": " << error << ": " << text << '\n';
        status = exitFailed;
    });
    script.SetScript(lines);
    try {
        script.ExecuteScript();
    } catch (const Exception& e) {
        out.flush();
        err << e.Message() << '\n';
        status = exitFailed;
    }
    try {
        if (transaction.Active())
            transaction.Commit();
    } catch (const Exception& e) {
        err << "zembo-isql: commit failed: " << e.Message() << '\n';
        status = exitFailed;
    }
    try {
        if (database.Connected())
            database.Close();
    } catch (const Exception&) {
        database.ForceClose();
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    try {
        const TOptions o = ReadOptions(app.arguments());
        if (o.Split)
            return SplitScript(o, out);
        return RunScript(o, out, err);
    } catch (const EUsage& e) {
        err << "zembo-isql: " << e.Message() << '\n' << Usage;
        return exitUsage;
    } catch (const EInOutError& e) {
        err << "zembo-isql: " << e.Message() << '\n';
        return exitUsage;
    }
}
