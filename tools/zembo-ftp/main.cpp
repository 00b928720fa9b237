// zembo-ftp: checks the connection to an update server from the command line.
//   zembo-ftp [--active] [--tls] [--continue] [--status] [--progress] [--timeout SECONDS]
//             ftp://[USER[:PASSWORD]@]HOST[:PORT][/DIR] COMMAND
// Exit 0 done, 1 failed (the reason on standard error), 2 bad usage.
// COMMAND: ls | size NAME | get NAME [LOCAL]
// --continue: get resumes what an interrupted get left in LOCAL.zembo-parcial.
#include "tools/cli.h"
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"
#include "update/partial.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <optional>

namespace {

void Err(const QString& text)
{
    WriteText(stderr, text + u'\n');
}

// SIZE gave no size: the file is not there (or not a file).
int Missing(TIdFTP& ftp, const QString& name)
{
    Err(QStringLiteral("%1: arquivo não encontrado no servidor").arg(name));
    ftp.Disconnect();
    return 1;
}

// The listing's time and line of the file, which the partial file's record must match.
std::optional<TServerFile> Listed(TIdFTP& ftp, const QString& name, std::int64_t size)
{
    ftp.List(nullptr);
    const TIdFTPListItems& items = ftp.DirectoryListing();
    for (int i = 0; i < items.Count(); ++i)
        if (items.Items(i).FileName() == name)
            return TServerFile{items.Items(i).ModifiedDate(), size, items.Items(i).Data(), {}};
    return std::nullopt;
}

// False when the server has no such file.
bool GetResumable(TIdFTP& ftp, const QString& name, const QString& local)
{
    const std::int64_t size = ftp.Size(name);
    const std::optional<TServerFile> listed = size < 0 ? std::nullopt : Listed(ftp, name, size);
    if (!listed)
        return false;
    TPartialDownload(local).Fetch(ftp, name, *listed);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TCommandLine cli("zembo-ftp",
                     {"[--active] [--tls] [--continue] [--status] [--progress] [--timeout SEGUNDOS] "
                      "ftp://[USUARIO[:SENHA]@]HOST[:PORTA][/PASTA] ls | size NOME | get NOME [LOCAL]"},
                     "Confere a conexão com um servidor de atualização como o atualizador a faz.");
    cli.AddOptions({{"active", "modo ativo (o padrão é o passivo)"},
                    {"tls", "exige TLS explícito (AUTH TLS), também nas conexões de dados"},
                    {"continue", "get retoma o que um get interrompido deixou em LOCAL.zembo-parcial"},
                    {"status", "mostra as mudanças de estado da conexão"},
                    {"progress", "mostra o andamento das transferências"},
                    {"timeout", "o limite de cada espera (padrão: 30)", "SEGUNDOS"}});
    if (const std::optional<int> end = cli.Parse(app.arguments()))
        return *end;
    const bool active = cli.IsSet("active"), tls = cli.IsSet("tls"), resume = cli.IsSet("continue");
    const bool status = cli.IsSet("status"), progress = cli.IsSet("progress");
    int timeout = 30;
    if (cli.IsSet("timeout")) {
        bool number = false;
        timeout = cli.Value("timeout").toInt(&number);
        if (!number || timeout <= 0 || timeout > 24 * 3600)
            return cli.Usage(QStringLiteral("--timeout quer um número de segundos (1 a 86400)"));
    }
    QStringList args = cli.Operands();
    if (args.size() < 2)
        return cli.Usage(QStringLiteral("faltam o endereço e o comando"));
    const QUrl url(args.takeFirst(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("ftp") || url.host().isEmpty())
        return cli.Usage(QStringLiteral("o endereço não é ftp://"));
    const QString command = args.takeFirst();
    const bool ok = (command == QLatin1String("ls") && args.isEmpty())
                    || (command == QLatin1String("size") && args.size() == 1)
                    || (command == QLatin1String("get") && (args.size() == 1 || args.size() == 2));
    if (!ok)
        return cli.Usage(QStringLiteral("comando inválido"));
    const int port = url.port(21);
    if (port <= 0 || port > 65535)
        return cli.Usage(QStringLiteral("porta inválida"));

    const QString dir = url.path(QUrl::FullyDecoded).mid(1);
    // Nothing goes out when any text of a command would break its line.
    try {
        TIdFTP::CheckCommandText(QStringLiteral("The user name"), url.userName(), true);
        TIdFTP::CheckCommandText(QStringLiteral("The password"), url.password(), true);
        TIdFTP::CheckCommandText(QStringLiteral("The directory"), dir, true);
        for (const QString& name : args)
            TIdFTP::CheckCommandText(QStringLiteral("The file name"), name, true);
    } catch (const Exception& e) {
        return cli.Usage(e.Message());
    }
    const QString local = command == QLatin1String("get")
                              ? (args.size() == 2 ? args.at(1) : QFileInfo(args.first()).fileName())
                              : QString();
    if (command == QLatin1String("get")) {
        try {
            TIdFTP::CheckDestinationFile(local);
        } catch (const Exception& e) {
            Err(e.Message());
            return 1;
        }
    }

    TIdFTP ftp;
    // The bounds the updater's window sets, all from the one option.
    ftp.ConnectTimeout = timeout * 1000;
    ftp.ReadTimeout = timeout * 1000;
    ftp.TransferTimeout = timeout * 1000;
    ftp.Host = url.host();
    ftp.Port = static_cast<std::uint16_t>(port);
    ftp.Username = url.userName().isEmpty() ? QStringLiteral("anonymous") : url.userName();
    ftp.Password = url.password();
    ftp.Passive = !active;
    ftp.UseTLS = tls ? utRequireTLS : utNoTLS;
    if (status)
        ftp.OnStatus = [](TIdBaseComponent*, TIdStatus, const QString& text) { Err(text); };
    if (progress) {
        ftp.OnWorkBegin = [](TIdBaseComponent*, TWorkMode, std::int64_t max) {
            Err(QStringLiteral("begin %1").arg(max));
        };
        ftp.OnWork = [](TIdBaseComponent*, TWorkMode, std::int64_t count) { Err(QStringLiteral("work %1").arg(count)); };
        ftp.OnWorkEnd = [](TIdBaseComponent*, TWorkMode) { Err(QStringLiteral("end")); };
    }
    try {
        ftp.Connect();
        ftp.SetTransferType(ftBinary);
        if (!dir.isEmpty())
            ftp.ChangeDir(dir);
        if (command == QLatin1String("ls")) {
            QStringList lines;
            ftp.List(&lines);
            for (const QString& line : lines)
                std::puts(line.toLocal8Bit().constData());
        } else if (command == QLatin1String("size")) {
            const std::int64_t size = ftp.Size(args.first());
            if (size < 0)
                return Missing(ftp, args.first());
            std::printf("%lld\n", static_cast<long long>(size));
        } else if (resume) {
            if (!GetResumable(ftp, args.first(), local))
                return Missing(ftp, args.first());
        } else {
            ftp.Get(args.first(), local, true, false);
        }
        ftp.Disconnect();
    } catch (const Exception& e) {
        Err(e.Message().trimmed());
        ftp.Disconnect();
        return 1;
    }
    return 0;
}
