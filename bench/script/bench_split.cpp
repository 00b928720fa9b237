// Splitting speed of generated upgrade scripts: statements per second and
// MB per second for two sizes, and how much slower the larger one is per
// statement (linear splitting keeps that ratio near 1).
#include "upgrade/ibsqlparser.h"

#include <QElapsedTimer>
#include <cstdio>

namespace {

// A mix like the catalogue's scripts: procedure bodies with the default
// terminator, strings holding the terminator and quotes, comments.
QStringList GenerateScript(int statements)
{
    QStringList lines;
    for (int i = 0; i < statements; ++i) {
        const QString n = QString::number(i);
        switch (i % 5) {
        case 0:
            lines << "/* procedure " + n + "; computes B */"
                  << "CREATE PROCEDURE P_" + n + " (A INTEGER) RETURNS (B INTEGER) AS"
                  << "BEGIN" << "  B = :A + " + n + "; /* inner; comment */" << "  SUSPEND;" << "END;";
            break;
        case 1:
            lines << "INSERT INTO CLIENTES (ID, NOME, OBS) VALUES (" + n + ", 'Nome; com ''aspas''', \"X;Y\");";
            break;
        case 2:
            lines << "UPDATE CLIENTES SET OBS = 'linha um;" << "linha dois' WHERE ID = " + n + ";";
            break;
        case 3:
            lines << "ALTER TABLE CLIENTES ADD CAMPO_" + n + " VARCHAR(40) /* novo campo */;";
            break;
        default:
            lines << "  " << "DELETE FROM CLIENTES WHERE ID = " + n + "; COMMIT;";
            ++i;
            break;
        }
    }
    return lines;
}

struct TResult {
    double Seconds;
    qint64 Statements;
    qint64 Characters;
};

TResult Measure(int statements)
{
    const QStringList lines = GenerateScript(statements);
    qint64 characters = 0;
    for (const QString& line : lines)
        characters += line.size() + 2;
    TIBSQLParser parser;
    qint64 handed = 0;
    parser.SetOnParse([&](TIBParseKind, const QString&) { ++handed; });
    parser.SetOnError([](const QString& error, const QString& text, int line) {
        std::fprintf(stderr, "unexpected parse error at %d: %s %s\n", line, qPrintable(error), qPrintable(text));
    });
    QElapsedTimer timer;
    timer.start();
    parser.SetScript(lines);
    parser.Parse();
    return {double(timer.nsecsElapsed()) / 1e9, handed, characters};
}

} // namespace

int main()
{
    Measure(2000); // warm-up
    const TResult small = Measure(10000);
    const TResult large = Measure(100000);
    for (const TResult& r : {small, large}) {
        // One character is one byte of the script file in the ANSI code page.
        const double mb = double(r.Characters) / 1e6;
        std::printf("%7lld statements  %6.2f MB  %8.4f s  %10.0f statements/s  %7.1f MB/s\n",
                    static_cast<long long>(r.Statements), mb, r.Seconds, double(r.Statements) / r.Seconds,
                    mb / r.Seconds);
    }
    std::printf("large/small time: %.2f for %.1f times the statements (target: at most 12)\n",
                large.Seconds / small.Seconds, double(large.Statements) / double(small.Statements));
    return 0;
}
