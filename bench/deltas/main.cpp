// The delta benchmark's runner.
//   bench_deltas_run run HOST PORT PASSWORD MANIFEST [KEYFILE]
//       one update run in the current folder held to the manifest (with the
//       key file, patches served where they can): prints the bytes moved,
//       the whole files' size and the wall time
//   bench_deltas_run make OLD NEW PATCH      prints the patch's size and the time
//   bench_deltas_run apply OLD PATCH OUT SIZE  prints the time and the rate
#include "delta/delta.h"
#include "ftp/idftp.h"
#include "platform/files.h"
#include "release/release.h"
#include "update/updaterun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <ctime>

namespace {

int Run(const QStringList& args)
{
    TIdFTP ftp;
    AjustaFtp(ftp);
    // The bytes moved, as the run reports them.
    struct TBytes : TUpdateObserver {
        std::int64_t Size = 0, Moved = 0, Full = 0, Patch = -1, PatchFull = 0;
        bool Failed = false;
        void SizeKnown(std::uint32_t bytes) override { Size = bytes; }
        void FetchedByDelta(int, std::int64_t patch, std::int64_t full) override { Patch = patch, PatchFull = full; }
        void FileFetched(int) override
        {
            Moved += Patch >= 0 ? Patch : Size;
            Full += Patch >= 0 ? PatchFull : Size;
            Patch = -1;
        }
        void FileFailed(int, const QString& m) override { Failed = true, std::fprintf(stderr, "%s\n", qPrintable(m)); }
        void DeltaFailed(int, const QString& m) override { std::fprintf(stderr, "delta: %s\n", qPrintable(m)); }
    } bytes;
    const TManifest manifest = ParseManifest(ReadFileBytes(args[4]));
    const QList<TPublicKey> keys = args.size() > 5 ? ParsePublicKeys(ReadFileBytes(args[5])) : QList<TPublicKey>{};
    const std::atomic<bool> never = false;
    TUpdateRun run(ftp, bytes, QString(), never);
    TConfiguracao settings;
    settings.Host = args[1];
    settings.Port = std::uint16_t(args[2].toUInt());
    QElapsedTimer clock;
    clock.start();
    run.Conecta(settings, args[3]);
    run.UsaManifesto(&manifest, keys);
    run.Planeja();
    run.Executa(MainExecutable);
    run.Desconecta();
    std::printf("moved %lld full %lld wall %.3f\n", (long long)bytes.Moved, (long long)bytes.Full,
                clock.nsecsElapsed() / 1e9);
    return bytes.Failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    try {
        QElapsedTimer clock;
        clock.start();
        if (args.size() >= 5 && args[0] == u"run")
            return Run(args);
        if (args.size() == 4 && args[0] == u"make") {
            const std::int64_t size = MakePatch(args[1], args[2], args[3]);
            std::printf("patch %lld time %.3f\n", (long long)size, clock.nsecsElapsed() / 1e9);
            return 0;
        }
        if (args.size() == 5 && args[0] == u"apply") {
            const std::clock_t cpu = std::clock();
            const std::int64_t size = ApplyPatch(args[1], args[2], args[3], args[4].toLongLong());
            const double seconds = clock.nsecsElapsed() / 1e9;
            const double cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
            std::printf("applied %lld time %.3f rate %.1f cpu %.3f cpurate %.1f\n", (long long)size, seconds,
                        size / seconds / 1e6, cpuSeconds, size / cpuSeconds / 1e6);
            return 0;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_deltas_run run|make|apply ...\n");
    return 2;
}
