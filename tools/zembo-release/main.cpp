// zembo-release: the maker's side of a signed release.
//   zembo-release manifest FOLDER --serial N [--expires DAYS]
//                                              writes FOLDER/zembo-release.txt
//   zembo-release verify FOLDER KEYFILE        checks the folder against its signed manifest
// Exit 0 done (verify: everything matches), 1 failed or differs, 2 bad usage.
#include "tools/cli.h"
#include "tools/escape.h"
#include "release/release.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

int MakeManifestFile(const QString& folder, qint64 serial, int expiresInDays)
{
    const QByteArray text = FormatManifest(MakeManifest(folder, serial, expiresInDays));
    WriteFileBytes(QDir(folder).filePath(QString::fromLatin1(ReleaseManifestName)), text);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}

// A file the release needs, bounded as the updater bounds it; empty when missing.
QByteArray ReadReleaseFile(const QString& path)
{
    if (!FileExists(path))
        return {};
    if (QFileInfo(path).size() > MaxReleaseFileSize)
        throw EReleaseError(QStringLiteral("%1: maior que %2 bytes.").arg(path).arg(MaxReleaseFileSize));
    return ReadFileBytes(path);
}

int VerifyFolder(const QString& folder, const QString& keyFile)
{
    const QDir dir(folder);
    const TSignedRelease release
        = VerifyRelease(ReadReleaseFile(dir.filePath(QString::fromLatin1(ReleaseManifestName))),
                        ReadReleaseFile(dir.filePath(QString::fromLatin1(ReleaseSignatureName))),
                        ParsePublicKeys(ReadFileBytes(keyFile)));
    WriteText(stdout, QStringLiteral("assinatura válida: versão %1, chave %2, %3 arquivos\n")
                          .arg(release.Manifest.Serial)
                          .arg(release.KeyId)
                          .arg(release.Manifest.Files.size()));
    static const char* const KindNames[] = {"ausente", "tamanho", "sha256", "fora do manifesto"};
    const QList<TFileDifference> differences = DifferingFiles(release.Manifest, folder, true);
    for (const TFileDifference& d : differences)
        WriteText(stdout, QStringLiteral("%1\t%2\n").arg(QString::fromLatin1(KindNames[d.Kind]), Escaped(d.Name)));
    return differences.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TCommandLine cli("zembo-release", {"manifest PASTA --serial N [--expires DIAS]", "verify PASTA ARQUIVO_DE_CHAVES"},
                     "Escreve o manifesto de uma versão, ou confere a pasta com o manifesto assinado.");
    cli.AddOptions({{"serial", "o número da versão, inteiro positivo", "N"},
                    {"expires", "o manifesto expira DIAS dias depois de hoje (inteiro positivo)", "DIAS"}});
    if (const std::optional<int> end = cli.Parse(app.arguments()))
        return *end;
    const QStringList operands = cli.Operands();
    const QString command = operands.value(0);
    bool serialOk = false;
    const qint64 serial = cli.Value("serial").toLongLong(&serialOk);
    bool daysOk = !cli.IsSet("expires");
    const int days = daysOk ? 0 : cli.Value("expires").toInt(&daysOk);
    try {
        if (command == u"manifest" && operands.size() == 2 && cli.IsSet("serial")) {
            if (!serialOk || serial <= 0)
                return cli.Usage("--serial quer um inteiro positivo");
            if (!daysOk || (cli.IsSet("expires") && days <= 0))
                return cli.Usage("--expires quer um número positivo de dias");
            return MakeManifestFile(operands[1], serial, days);
        }
        if (command == u"verify" && operands.size() == 3 && !cli.IsSet("serial") && !cli.IsSet("expires"))
            return VerifyFolder(operands[1], operands[2]);
    } catch (const Exception& e) {
        cli.Fail(e.Message());
        return 1;
    }
    return cli.Usage("argumentos inválidos");
}
