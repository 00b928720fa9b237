// One synchronisation over HTTPS in the current folder, as a run does it:
// the manifest asked for "changed since?" with what the folder kept of the
// last one, its signature checked with the key file, then every file that
// differs fetched. Prints what it did and the wall time.
// Usage: bench_https_run ADDRESS PUBLIC_KEY_FILE
#include "platform/files.h"
#include "release/release.h"
#include "update/https/httpssource.h"
#include "update/updaterun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_https_run ADDRESS PUBLIC_KEY_FILE\n");
        return 2;
    }
    struct TFacts : TUpdateObserver {
        int Fetched = 0;
        bool Failed = false;
        void FileFetched(int) override { ++Fetched; }
        void FileFailed(int, const QString& message) override
        {
            Failed = true;
            std::fprintf(stderr, "%s\n", qPrintable(message));
        }
    } facts;
    const std::atomic<bool> never = false;
    TConfiguracao settings;
    settings.Endereco = QString::fromLocal8Bit(argv[1]);
    QElapsedTimer clock;
    clock.start();
    try {
        const QList<TPublicKey> keys = ParsePublicKeys(ReadFileBytes(QString::fromLocal8Bit(argv[2])));
        std::unique_ptr<TReleaseSource> source = CriaFonteHttps(never);
        TUpdateRun run(*source, facts, QString(), never);
        run.Conecta(settings, QString());
        const QString accepted = QLatin1String(AcceptedReleaseName);
        const TReleaseFiles files = source->LeVersao(FileExists(accepted) ? ReadFileBytes(accepted) : QByteArray());
        const TSignedRelease release = VerifyRelease(files.Manifest, files.Signature, keys);
        AcceptRelease(QDir::currentPath(), files.Manifest);
        source->VersaoAceita();
        run.UsaManifesto(&release.Manifest);
        run.Sincroniza(MainExecutable);
        run.Desconecta();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "run failed: %s\n", error.what());
        return 1;
    }
    std::printf("fetched %d error %d wall %.3f s\n", facts.Fetched, int(facts.Failed), clock.nsecsElapsed() / 1e9);
    return facts.Failed ? 1 : 0;
}
