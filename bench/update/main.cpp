// One update run without a window in the current folder: connect, list
// "keldarin", fetch what differs, disconnect. Prints what it decided and
// the wall time. Usage: bench_update_run HOST PORT PASSWORD
#include "ftp/idftp.h"
#include "update/updaterun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_update_run HOST PORT PASSWORD\n");
        return 2;
    }
    TIdFTP ftp;
    AjustaFtp(ftp);
    // The run's facts, as it reports them.
    struct TFacts : TUpdateObserver {
        qsizetype Listed = 0;
        int Fetched = 0;
        bool Failed = false;
        void Planned(const TUpdatePlan& plan) override { Listed = plan.Items.size(); }
        void FileFetched(int) override { ++Fetched; }
        void FileFailed(int, const QString&) override { Failed = true; }
        void ReplacementFailed(const QString&) override { Failed = true; }
    } quiet;
    const std::atomic<bool> never = false;
    TUpdateRun run(ftp, quiet, QString(), never);
    TConfiguracao settings;
    settings.Host = QString::fromLocal8Bit(argv[1]);
    settings.Port = std::uint16_t(QByteArray(argv[2]).toUInt());
    QElapsedTimer clock;
    clock.start();
    try {
        run.Conecta(settings, QString::fromLocal8Bit(argv[3]));
        run.Sincroniza(MainExecutable);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "run failed: %s\n", error.what());
        return 1;
    }
    run.Desconecta();
    std::printf("listed %lld fetched %d error %d wall %.3f s\n", (long long)quiet.Listed, quiet.Fetched,
                int(quiet.Failed), clock.nsecsElapsed() / 1e9);
    return quiet.Failed ? 1 : 0;
}
