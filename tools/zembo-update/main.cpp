// zembo-update: the whole update of the installation in the working folder,
// without a window, for a scheduler at night.
//   zembo-update --apps-closed [--log FILE]
// Exit 0: up to date (updated now, or nothing to do); 1: an error (a check,
// the connection, a download or the replacement); 2: bad usage; 4: a script
// failed, now or in an earlier run (its error file blocks later runs until
// removed); 5: another update of this folder is running.
#include "platform/shell.h"
#include "tools/cli.h"
#include "tools/zembo-update/report.h"

#include <QCoreApplication>

namespace {

enum TExit { exUpToDate = 0, exError = 1, exScript = 4, exBusy = 5 };

int ExitCode(const TUpdateOutcome& outcome)
{
    switch (outcome.Result) {
    case urSucesso:
        return exUpToDate;
    case urScriptFalhou:
        return exScript;
    case urErros:
    case urCancelada:
    case urSemConexao:
        break;
    }
    return exError;
}

int Update(const QString& logFile)
{
    TUpdateReport report(StandardOutputIsTerminal());
    TUpdateSession session(report, logFile);
    session.SetFace(rfNoturna);
    if (const std::optional<TRefusal> refusal = session.Inicia()) {
        const bool download = refusal->Check && refusal->Check->OpensDownloadPage();
        TUpdateReport::PrintError(download ? refusal->Message + u'\n' + ArchiverDownloadPage() : refusal->Message);
        switch (refusal->Kind) {
        case rcOcupada:
            return exBusy;
        case rcScriptErro:
            return exScript;
        case rcVerificacao:
            break;
        }
        return exError;
    }
    const TUpdateOutcome outcome = session.Atualiza();
    if (outcome.Result == urSemConexao)
        TUpdateReport::PrintError(outcome.Causa);
    TUpdateReport::Print(outcome.TextoFinal());
    return ExitCode(outcome);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TCommandLine cli(QStringLiteral("zembo-update"), {QStringLiteral("--apps-closed [--log FILE]")},
                     QStringLiteral("Atualiza a instalação da pasta atual sem janela."));
    cli.AddOptions({{QStringLiteral("apps-closed"), QStringLiteral("Os aplicativos do sistema estão fechados, nesta "
                                                                   "máquina e em todos os terminais.")},
                    {QStringLiteral("log"), QStringLiteral("O registro da atualização (padrão: %1).").arg(RunLogName),
                     QStringLiteral("FILE"), RunLogName}});
    if (const std::optional<int> end = cli.Parse(application.arguments()))
        return *end;
    if (!cli.Operands().isEmpty())
        return cli.Usage(QStringLiteral("argumento inesperado: ") + cli.Operands().first());
    if (!cli.IsSet(QStringLiteral("apps-closed")))
        return cli.Usage(QStringLiteral("confirme com --apps-closed que todos os aplicativos do sistema estão fechados, "
                                        "nesta máquina e em todos os terminais."));
    return Update(cli.Value(QStringLiteral("log")));
}
