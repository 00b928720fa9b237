// zembo-isql: tries a catalogue script before it is released.
//
//   zembo-isql --split [--term X] SCRIPT
//       lists the statements the splitter hands out, and every parse error
//   zembo-isql [--user U] [--password P] [--dialect N]
//              [--server-type IBServer|IBEmbedded] DATABASE SCRIPT
//       runs the script as the upgrade does
//   zembo-isql [--user U] [--password P] --restore BACKUP DATABASE
//       puts a backup taken before an upgrade in place of the database
//
// SCRIPT is read in the ANSI code page; "-" reads standard input.
#include "tools/cli.h"
#include "tools/escape.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "db/ibdatabase.h"
#include "settings.h"
#include "upgrade/backup.h"
#include "upgrade/ibscript.h"
#include "upgrade/ibsqlparser.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <optional>

namespace {

enum : int { exitOk = 0, exitFailed = 1, exitUsage = 2 };

struct TOptions {
    bool Split = false;
    bool Restore = false;
    std::optional<QString> Term;
    std::optional<QString> User;
    std::optional<QString> Password;
    std::optional<int> Dialect;
    std::optional<QString> ServerType;
    QStringList Operands;
};

std::optional<QString> ValueOf(const TCommandLine& cli, const QString& name)
{
    return cli.IsSet(name) ? std::optional(cli.Value(name)) : std::nullopt;
}

// The parsed command line as the two forms want it; raises EUsage.
TOptions ReadOptions(const TCommandLine& cli)
{
    TOptions o{cli.IsSet("split"), cli.IsSet("restore"), ValueOf(cli, "term"), ValueOf(cli, "user"), ValueOf(cli, "password"),
               std::nullopt, ValueOf(cli, "server-type"), cli.Operands()};
    if (cli.IsSet("dialect")) {
        bool ok = false;
        o.Dialect = cli.Value("dialect").toInt(&ok);
        if (!ok || *o.Dialect < 1 || *o.Dialect > 3)
            throw EUsage("--dialect aceita 1, 2 ou 3");
    }
    if (o.ServerType && *o.ServerType != u"IBServer" && *o.ServerType != u"IBEmbedded")
        throw EUsage("--server-type aceita IBServer ou IBEmbedded");
    if (o.Restore) {
        if (o.Split || o.Operands.size() != 2 || o.Term || o.Dialect || o.ServerType)
            throw EUsage("--restore quer COPIA e BANCO e só --user e --password");
    } else if (o.Split) {
        if (o.Operands.size() != 1 || o.User || o.Password || o.Dialect || o.ServerType)
            throw EUsage("--split quer um SCRIPT e nenhuma opção de conexão");
        if (o.Term && o.Term->isEmpty())
            throw EUsage("--term precisa de um terminador");
    } else if (o.Operands.size() != 2 || o.Term) {
        throw EUsage("faltam BANCO e SCRIPT");
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

QStringList Login(const TOptions& o)
{
    return {"user_name=" + o.User.value_or(QString::fromLatin1(Settings::CustomerDbUser)),
            "password=" + o.Password.value_or(QString::fromLatin1(Settings::CustomerDbPassword))};
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
    database.SetParams(Login(o));
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

int Restore(const TOptions& o, QTextStream& out, QTextStream& err)
{
    try {
        RestoreBackup(o.Operands[0], o.Operands[1], Login(o));
    } catch (const Exception& e) {
        err << "zembo-isql: " << e.Message() << '\n';
        return exitFailed;
    }
    out << "restaurada: " << o.Operands[1] << '\n';
    return exitOk;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TCommandLine cli("zembo-isql",
                     {"--split [--term X] SCRIPT",
                      "[--user U] [--password P] [--dialect N] [--server-type IBServer|IBEmbedded] BANCO SCRIPT",
                      "[--user U] [--password P] --restore COPIA BANCO"},
                     "Lista os comandos de um script do catálogo, ou o executa no BANCO como a atualização faz,"
                     " ou restaura no BANCO a cópia feita antes de uma atualização"
                     " (SCRIPT na página de código ANSI; \"-\" lê a entrada padrão).");
    cli.AddOptions({{"split", "só lista os comandos e os erros de análise"},
                    {"restore", "põe a COPIA (.fbk) no lugar do BANCO, que nada pode estar usando"},
                    {"term", "o terminador inicial (padrão: ;)", "X"},
                    {"user", "o usuário do banco", "U"},
                    {"password", "a senha do banco", "P"},
                    {"dialect", "o dialeto SQL: 1, 2 ou 3 (padrão: 1)", "N"},
                    {"server-type", "IBServer ou IBEmbedded (padrão: IBServer)", "TIPO"}});
    if (const std::optional<int> end = cli.Parse(app.arguments()))
        return *end;
    QTextStream out(stdout);
    QTextStream err(stderr);
    try {
        const TOptions o = ReadOptions(cli);
        if (o.Restore)
            return Restore(o, out, err);
        return o.Split ? SplitScript(o, out) : RunScript(o, out, err);
    } catch (const EUsage& e) {
        return cli.Usage(e.Message());
    } catch (const EInOutError& e) {
        err << "zembo-isql: " << e.Message() << '\n';
        return exitUsage;
    }
}
