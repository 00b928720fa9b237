// zembo-release: the maker's side of a signed release.
//   zembo-release manifest FOLDER --serial N [--expires DAYS] [DELTAS]
//                                              writes FOLDER/zembo-release.txt (and FOLDER/deltas)
//   zembo-release verify FOLDER KEYFILE [DELTAS]
//                                              checks the folder against its signed manifest
// DELTAS: --delta-from OLD_FOLDER ..., --executable NEW.exe --delta-from-executable OLD.exe ...
// Exit 0 done (verify: everything matches), 1 failed or differs, 2 bad usage.
#include "tools/cli.h"
#include "tools/escape.h"
#include "tools/zembo-release/deltas.h"
#include "release/release.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

int MakeManifestFile(const QString& folder, qint64 serial, int expiresInDays, const TDeltaSources& sources)
{
    const TManifest manifest = MakeManifest(folder, serial, expiresInDays);
    const QByteArray text = FormatManifest(manifest);
    WriteFileBytes(QDir(folder).filePath(QString::fromLatin1(ReleaseManifestName)), text);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    if (sources.Any())
        MakeDeltas(folder, manifest, sources);
    return 0;
}

int VerifyFolder(const QString& folder, const QString& keyFile, const TDeltaSources& sources)
{
    const QDir dir(folder);
    const QList<TPublicKey> keys = ParsePublicKeys(ReadFileBytes(keyFile));
    const TSignedRelease release = VerifyRelease(ReadReleaseFile(dir.filePath(QString::fromLatin1(ReleaseManifestName))),
                                                 ReadReleaseFile(dir.filePath(QString::fromLatin1(ReleaseSignatureName))), keys);
    WriteText(stdout, QStringLiteral("assinatura válida: versão %1, chave %2, %3 arquivos\n")
                          .arg(release.Manifest.Serial)
                          .arg(release.KeyId)
                          .arg(release.Manifest.Files.size()));
    static const char* const KindNames[] = {"ausente", "tamanho", "sha256", "fora do manifesto"};
    const QList<TFileDifference> differences = DifferingFiles(release.Manifest, folder, true);
    for (const TFileDifference& d : differences)
        WriteText(stdout, QStringLiteral("%1\t%2\n").arg(QString::fromLatin1(KindNames[d.Kind]), Escaped(d.Name)));
    const QStringList deltas = VerifyDeltas(folder, release.Manifest, keys, sources);
    for (const QString& line : deltas)
        WriteText(stdout, line + u'\n');
    return differences.isEmpty() && deltas.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TCommandLine cli("zembo-release",
                     {"manifest PASTA --serial N [--expires DIAS] [--delta-from PASTA_ANTIGA ...] [--executable NOVO.exe "
                      "--delta-from-executable ANTIGO.exe ...]",
                      "verify PASTA ARQUIVO_DE_CHAVES [--delta-from PASTA_ANTIGA ...] [--delta-from-executable ANTIGO.exe ...]"},
                     "Escreve o manifesto de uma versão (e os deltas das versões anteriores), ou confere a pasta com o "
                     "manifesto assinado.");
    cli.AddOptions({{"serial", "o número da versão, inteiro positivo", "N"},
                    {"expires", "o manifesto expira DIAS dias depois de hoje (inteiro positivo)", "DIAS"},
                    {"delta-from", "deltas a partir dos arquivos de uma versão anterior (repetível)", "PASTA_ANTIGA"},
                    {"executable", "o Quendarive.exe novo, o de dentro do Quendarive.rar", "NOVO.exe"},
                    {"delta-from-executable", "deltas a partir de um Quendarive.exe anterior (repetível)", "ANTIGO.exe"}});
    if (const std::optional<int> end = cli.Parse(app.arguments()))
        return *end;
    const QStringList operands = cli.Operands();
    const QString command = operands.value(0);
    bool serialOk = false;
    const qint64 serial = cli.Value("serial").toLongLong(&serialOk);
    bool daysOk = !cli.IsSet("expires");
    const int days = daysOk ? 0 : cli.Value("expires").toInt(&daysOk);
    const TDeltaSources sources{cli.Values("delta-from"), cli.Value("executable"), cli.Values("delta-from-executable")};
    try {
        if (command == u"manifest" && operands.size() == 2 && cli.IsSet("serial")) {
            if (sources.Executable.isEmpty() != sources.OldExecutables.isEmpty())
                return cli.Usage("--executable e --delta-from-executable vão juntos");
            if (!serialOk || serial <= 0)
                return cli.Usage("--serial quer um inteiro positivo");
            if (!daysOk || (cli.IsSet("expires") && days <= 0))
                return cli.Usage("--expires quer um número positivo de dias");
            return MakeManifestFile(operands[1], serial, days, sources);
        }
        if (command == u"verify" && operands.size() == 3 && !cli.IsSet("serial") && !cli.IsSet("expires") &&
            !cli.IsSet("executable"))
            return VerifyFolder(operands[1], operands[2], sources);
    } catch (const Exception& e) {
        cli.Fail(e.Message());
        return 1;
    }
    return cli.Usage("argumentos inválidos");
}
