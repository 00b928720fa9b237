// The tools read their command lines alike: --help on standard output with
// exit 0; a usage error as "TOOL: reason" and the usage on standard error, exit 2.
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode;
    QString Out, Err;
};

TRun RunTool(const QString& program, const QStringList& args)
{
    QProcess tool;
    tool.start(program, args);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(10000)) << program.toStdString();
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()), QString::fromUtf8(tool.readAllStandardError())};
}

} // namespace

TEST(ToolsCommandLine, HelpAndUsageErrorsAlike)
{
    const struct {
        const char* Name;
        const char* Path;
        QStringList BadValue; // a usage error the tool finds after parsing
    } tools[] = {
        {"zembo-ls", ZEMBO_LS_PATH, {"--now", "ontem"}},
        {"zembo-isql", ZEMBO_ISQL_PATH, {"--dialect", "7", "banco", "script"}},
        {"zembo-release", ZEMBO_RELEASE_PATH, {"manifest", "pasta", "--serial", "0"}},
        {"zembo-fleet", ZEMBO_FLEET_PATH, {"--days", "0"}},
    };
    for (const auto& tool : tools) {
        SCOPED_TRACE(tool.Name);
        const QString usage = QStringLiteral("uso: %1 ").arg(tool.Name);
        for (const char* help : {"--help", "-h"}) {
            const TRun run = RunTool(tool.Path, {help});
            EXPECT_EQ(run.ExitCode, 0);
            EXPECT_TRUE(run.Out.startsWith(usage)) << run.Out.toStdString();
            EXPECT_TRUE(run.Out.contains("  -h, --help  ")) << run.Out.toStdString();
            EXPECT_EQ(run.Err, "");
        }
        for (const auto& [args, why] : {std::pair{QStringList{"--nope"}, QString("opção desconhecida: --nope")},
                                        std::pair{tool.BadValue, QString()}}) {
            const TRun run = RunTool(tool.Path, args);
            EXPECT_EQ(run.ExitCode, 2);
            EXPECT_EQ(run.Out, "");
            EXPECT_TRUE(run.Err.startsWith(QStringLiteral("%1: %2").arg(tool.Name, why))) << run.Err.toStdString();
            EXPECT_TRUE(run.Err.contains("\n" + usage)) << run.Err.toStdString();
        }
    }
}
