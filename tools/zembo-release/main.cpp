// zembo-release: the maker's side of a signed release.
//   zembo-release manifest FOLDER --serial N   writes FOLDER/zembo-release.txt
//   zembo-release verify FOLDER KEYFILE        checks the folder against its signed manifest
// Exit 0 done (verify: everything matches), 1 failed or differs, 2 bad usage.
#include "tools/escape.h"
#include "release/release.h"
#include "platform/files.h"

#include <QCommandLineParser>
#include <QDir>
#include <cstdio>

namespace {

void Write(FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

int Usage(const QString& why)
{
    Write(stderr, QStringLiteral("zembo-release: %1\nuso: zembo-release manifest PASTA --serial N\n"
                                 "     zembo-release verify PASTA ARQUIVO_DE_CHAVES\n")
                      .arg(why));
    return 2;
}

int MakeManifestFile(const QString& folder, const QString& serialText)
{
    bool ok = false;
    const qint64 serial = serialText.toLongLong(&ok);
    if (!ok || serial <= 0)
        return Usage(QStringLiteral("--serial quer um inteiro positivo"));
    const QByteArray text = FormatManifest(MakeManifest(folder, serial));
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
    Write(stdout, QStringLiteral("assinatura válida: versão %1, chave %2, %3 arquivos\n")
                      .arg(release.Manifest.Serial)
                      .arg(release.KeyId)
                      .arg(release.Manifest.Files.size()));
    static const char* const KindNames[] = {"ausente", "tamanho", "sha256", "fora do manifesto"};
    const QList<TFileDifference> differences = DifferingFiles(release.Manifest, folder, true);
    for (const TFileDifference& d : differences)
        Write(stdout, QStringLiteral("%1\t%2\n").arg(QString::fromLatin1(KindNames[d.Kind]), Escaped(d.Name)));
    return differences.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("número da versão"), QStringLiteral("N"));
    parser.addOption(serial);
    if (!parser.parse(args))
        return Usage(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    try {
        if (command == u"manifest" && positional.size() == 2 && parser.isSet(serial))
            return MakeManifestFile(positional[1], parser.value(serial));
        if (command == u"verify" && positional.size() == 3 && !parser.isSet(serial))
            return VerifyFolder(positional[1], positional[2]);
    } catch (const Exception& e) {
        Write(stderr, QStringLiteral("zembo-release: %1\n").arg(e.Message()));
        return 1;
    }
    return Usage(QStringLiteral("argumentos inválidos"));
}
