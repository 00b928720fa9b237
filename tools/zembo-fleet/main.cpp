// zembo-fleet: the maker's view of the installations, from the runs they
// report to the central catalogue (alias Check of the aliases file).
//   zembo-fleet [--days N] [--tsv] [--user NAME] [--html FILE]
// One line per installation with its last run, release serial, VERSAO and
// flags. Exit 0: every installation up to date and succeeding; 3: one is
// not; 1: an error; 2: bad usage.
#include "db/catalog.h"
#include "fleet/fleet.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tools/cli.h"
#include "tools/escape.h"
#include "update/configuration.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

enum TExit { exEmDia = 0, exErro = 1, exPendente = 3 };

const QString PasswordVariable = QStringLiteral("ZEMBO_FLEET_PASSWORD");

QStringList Fields(const TInstallation& i)
{
    const QStringList flags = i.Sinais();
    return {i.Instalacao,
            i.Alias,
            i.Maquina,
            i.Quando.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")),
            i.Face,
            i.Resultado,
            i.Serie ? QString::number(*i.Serie) : QStringLiteral("-"),
            i.Versao.isEmpty() ? QStringLiteral("-") : i.Versao,
            flags.isEmpty() ? QStringLiteral("em dia") : flags.join(u','),
            i.Causa};
}

QString Lines(const TFleet& fleet, bool tsv)
{
    QList<QStringList> rows;
    for (const TInstallation& i : fleet.Instalacoes) {
        QStringList fields = Fields(i);
        for (QString& field : fields)
            field = Escaped(field);
        rows << fields;
    }
    QString text;
    if (tsv) {
        for (const QStringList& row : rows)
            text += row.join(u'\t') + u'\n';
        return text;
    }
    // The columns aligned, the cause last as it comes.
    QList<qsizetype> widths(rows.isEmpty() ? 0 : rows.first().size() - 1, 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < widths.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < widths.size(); ++c)
            line += row[c].leftJustified(widths[c] + 2);
        text += (line + row.last()).trimmed() + u'\n';
    }
    return text;
}

int Run(const TCommandLine& cli, int days)
{
    TDatabase catalogue;
    ConfiguraCatalogo(catalogue);
    if (cli.IsSet(QStringLiteral("user")))
        catalogue.SetParams({QStringLiteral("USER NAME=") + cli.Value(QStringLiteral("user")),
                             QStringLiteral("PASSWORD=") + qEnvironmentVariable(qPrintable(PasswordVariable))});
    else
        catalogue.SetParams(ParametrosCatalogo());
    catalogue.Open();
    const QList<TRunEvent> events = ReadRunEvents(catalogue.DatabaseName());
    const TFleet fleet =
        JulgaFrota(events, VersaoMaisNovaLiberada(catalogue.DatabaseName()), QDateTime::currentDateTimeUtc(), days);
    if (cli.IsSet(QStringLiteral("html"))) {
        const QString file = cli.Value(QStringLiteral("html"));
        WriteFileBytes(file, PaginaDaFrota(fleet));
        WriteText(stdout, QStringLiteral("página gravada em %1: %2 instalações\n").arg(file).arg(fleet.Instalacoes.size()));
    } else {
        WriteText(stdout, Lines(fleet, cli.IsSet(QStringLiteral("tsv"))));
    }
    return fleet.TodasEmDia() ? exEmDia : exPendente;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TCommandLine cli(QStringLiteral("zembo-fleet"),
                     {QStringLiteral("[--days N] [--tsv] [--user NAME]"),
                      QStringLiteral("[--days N] [--user NAME] --html FILE")},
                     QStringLiteral("Mostra a última execução de cada instalação, a partir do catálogo central "
                                    "(com --user, a senha vem de $%1).")
                         .arg(PasswordVariable));
    cli.AddOptions({{QStringLiteral("days"), QStringLiteral("Dias sem execução até uma instalação ser silenciosa (padrão: 7)."),
                     QStringLiteral("N"), QStringLiteral("7")},
                    {QStringLiteral("tsv"), QStringLiteral("Campos separados por tabulação.")},
                    {QStringLiteral("user"), QStringLiteral("A conta do fabricante no catálogo."), QStringLiteral("NAME")},
                    {QStringLiteral("html"), QStringLiteral("Grava a página do relatório em FILE."), QStringLiteral("FILE")}});
    if (const std::optional<int> end = cli.Parse(application.arguments()))
        return *end;
    if (!cli.Operands().isEmpty())
        return cli.Usage(QStringLiteral("argumento inesperado: ") + cli.Operands().first());
    bool number = false;
    const int days = cli.Value(QStringLiteral("days")).toInt(&number);
    if (!number || days < 1)
        return cli.Usage(QStringLiteral("--days precisa de um número de dias, 1 ou mais"));
    try {
        return Run(cli, days);
    } catch (const std::exception& error) {
        cli.Fail(ErrorText(error));
        return exErro;
    }
}
