// zembo-update: the whole update of the installation in the working folder,
// without a window, for a scheduler at night.
//   zembo-update --apps-closed [--log FILE]
// Exit 0: up to date (updated now, or nothing to do); 1: an error (a check,
// the connection, a download or the replacement); 2: bad usage; 4: a script
// failed, now or in an earlier run (its error file blocks later runs until
// removed); 5: another update of this folder is running.
#include "platform/shell.h"
#include "tools/zembo-update/report.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

enum TExit { exUpToDate = 0, exError = 1, exUsage = 2, exScript = 4, exBusy = 5 };

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
    if (const QString pending = ArquivoErroPendente(); !pending.isEmpty()) {
        TUpdateReport::PrintError(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + pending +
                                  QStringLiteral("\nUm script falhou numa atualização anterior: contate a Belmora "
                                                 "Sistemas e remova o arquivo para atualizar de novo."));
        return exScript;
    }
    TUpdateReport report(StandardOutputIsTerminal());
    TUpdateSession session(report, logFile);
    if (!session.Bloqueia()) {
        TUpdateReport::PrintError(QStringLiteral("Outra atualização desta pasta está em andamento."));
        return exBusy;
    }
    if (const auto failure = session.Verifica()) {
        TUpdateReport::PrintError(failure->OpensDownloadPage() ? failure->Message + u'\n' + ArchiverDownloadPage()
                                                               : failure->Message);
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
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Atualiza a instalação da pasta atual sem janela."));
    parser.addHelpOption();
    const QCommandLineOption appsClosed(QStringLiteral("apps-closed"),
                                        QStringLiteral("Os aplicativos do sistema estão fechados, nesta máquina e em "
                                                       "todos os terminais."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("O registro da atualização (padrão: %1).").arg(RunLogName),
                                 QStringLiteral("FILE"), RunLogName);
    parser.addOptions({appsClosed, log});
    if (!parser.parse(application.arguments()) || !parser.positionalArguments().isEmpty()) {
        TUpdateReport::PrintError(QStringLiteral("zembo-update: ") +
                                  (parser.errorText().isEmpty() ? QStringLiteral("argumento inesperado") : parser.errorText()) +
                                  u'\n' + parser.helpText());
        return exUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.isSet(appsClosed)) {
        TUpdateReport::PrintError(QStringLiteral("zembo-update: confirme com --apps-closed que todos os aplicativos do "
                                                 "sistema estão fechados, nesta máquina e em todos os terminais."));
        return exUsage;
    }
    return Update(parser.value(log));
}
