// The fleet judged from runs made up in memory: each flag and the order of
// the installations, the runs per day, and a page that shows the server's
// texts as text; the installation's id that the runs carry.
#include "fleet/fleet.h"
#include "tests/support/testenv.h"
#include "update/catalogreport.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

const QDateTime Now = QDateTime(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);

// A run of the installation that started hoursAgo, ended as result (none:
// still in progress) with this serial and VERSAO.
QList<TRunEvent> Runs(const QString& installation, double hoursAgo, const QString& result, std::optional<qint64> serial,
                     const QString& versao, const QString& causa = {})
{
    static int count = 0;
    TRunEvent start;
    start.Execucao = QStringLiteral("run-%1").arg(++count);
    start.Evento = RunStartEvent;
    start.Instalacao = installation;
    start.Alias = QStringLiteral("ALIAS-") + installation;
    start.Maquina = QStringLiteral("maquina");
    start.Face = QStringLiteral("noturna");
    start.Momento = Now.addSecs(qint64(-hoursAgo * 3600));
    start.SerieAntes = serial;
    start.VersaoAntes = versao;
    if (result.isEmpty())
        return {start};
    TRunEvent end = start;
    end.Evento = RunEndEvent;
    end.Momento = start.Momento.addSecs(60);
    end.Resultado = result;
    end.Causa = causa;
    end.SerieDepois = serial;
    end.VersaoDepois = versao;
    return {start, end};
}

const TInstallation& Find(const TFleet& fleet, const QString& id)
{
    for (const TInstallation& i : fleet.Instalacoes)
        if (i.Instalacao == id)
            return i;
    throw std::runtime_error("no installation " + id.toStdString());
}

} // namespace

// Each flag on its own installation, the worst first; an installation whose
// last run succeeded after a failure is up to date again; a run in progress
// is stuck only after an hour.
TEST(FleetJudgement, FlagsEachCaseAndPutsTheWorstFirst)
{
    QList<TRunEvent> events;
    events << Runs("ok", 30, "erros", 7, "0006") << Runs("ok", 5, "sucesso", 7, "0006");
    events << Runs("falha", 3, "script", 7, "0005", "Um script falhou");
    events << Runs("muda", 24 * 10, "sucesso", 7, "0006");
    events << Runs("velha", 4, "sucesso", 6, "0006");
    events << Runs("base", 4, "sucesso", 7, "0004");
    events << Runs("presa", 2, {}, 7, "0006");
    events << Runs("agora", 0.5, {}, 7, "0006");
    const TFleet fleet = JulgaFrota(events, "0006", Now, 7);

    EXPECT_EQ(fleet.SerieMaisNova, 7);
    EXPECT_EQ(fleet.Instalacoes.size(), 7);
    EXPECT_EQ(Find(fleet, "ok").Sinais(), QStringList());
    EXPECT_EQ(Find(fleet, "ok").Execucoes, 2);
    EXPECT_EQ(Find(fleet, "falha").Sinais(), QStringList({"falhando", "atrasada"}));
    EXPECT_EQ(Find(fleet, "falha").Causa, "Um script falhou");
    EXPECT_EQ(Find(fleet, "muda").Sinais(), QStringList({"silenciosa"}));
    EXPECT_EQ(Find(fleet, "velha").Sinais(), QStringList({"atrasada"}));
    EXPECT_EQ(Find(fleet, "base").Sinais(), QStringList({"atrasada"}));
    EXPECT_EQ(Find(fleet, "presa").Sinais(), QStringList({"travada"}));
    EXPECT_EQ(Find(fleet, "presa").Resultado, RunInProgress);
    EXPECT_EQ(Find(fleet, "agora").Sinais(), QStringList());
    EXPECT_FALSE(fleet.TodasEmDia());
    EXPECT_EQ(fleet.Instalacoes.first().Instalacao, "falha");
    EXPECT_EQ(fleet.Instalacoes[1].Instalacao, "presa");
    EXPECT_EQ(fleet.Instalacoes[2].Instalacao, "muda");
    EXPECT_TRUE(fleet.Instalacoes.last().EmDia());

    // 30 days charted; the old failure of "ok" counts on its day, a run in
    // progress once; the silent one's run is 10 days old, still charted.
    EXPECT_EQ(fleet.PorDia.size(), 30);
    EXPECT_EQ(fleet.PorDia.value(Now.date()).value("sucesso"), 3);
    EXPECT_EQ(fleet.PorDia.value(Now.date()).value(RunInProgress), 2);
    EXPECT_EQ(fleet.PorDia.value(Now.date().addDays(-1)).value("erros"), 1);
    EXPECT_EQ(fleet.PorDia.value(Now.date().addDays(-10)).value("sucesso"), 1);

    EXPECT_TRUE(JulgaFrota(Runs("ok", 1, "sucesso", 7, "0006"), "0006", Now, 7).TodasEmDia());
    EXPECT_TRUE(JulgaFrota({}, "0006", Now, 7).TodasEmDia());
    // no run start arrived, only its end: the end still counts
    EXPECT_EQ(JulgaFrota(Runs("fim", 1, "erros", 7, "0006").mid(1), "0006", Now, 7).Instalacoes.first().Sinais(),
              QStringList({"falhando"}));
}

// What an installation sent is shown as text: markup, quotes, control
// characters and "%1" in a cause or an alias never become part of the page.
TEST(FleetJudgement, ThePageShowsTheServersTextsAsText)
{
    QList<TRunEvent> events = Runs("x", 1, "erros", std::nullopt, "0006", "<script>alert(1)</script> & \"%1\"\x1b");
    events[0].Alias = events[1].Alias = "<b>%2</b>";
    const QString page = QString::fromUtf8(PaginaDaFrota(JulgaFrota(events, "0006", Now, 7)));
    EXPECT_FALSE(page.contains("<script")) << page.toStdString();
    EXPECT_TRUE(page.contains("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;&#37;1&quot;\\x1B"));
    EXPECT_TRUE(page.contains("<td>&lt;b&gt;&#37;2&lt;/b&gt;</td>"));
    EXPECT_TRUE(page.contains("<b id=\"n-falhando\">1</b>"));
    EXPECT_TRUE(page.contains("sem assinatura"));
}

// The installation's id is made once and kept; a file in its place that
// holds no id, or a link, is replaced by a file of its own (the link's
// target untouched), so the nightly run never writes through a link.
TEST(InstallationId, MadeOnceKeptAndNeverWrittenThroughALink)
{
    TScratchDir folder;
    const QString old = QDir::currentPath();
    QDir::setCurrent(folder.Path());
    const QString id = InstallationId();
    EXPECT_FALSE(QUuid::fromString(id).isNull()) << id.toStdString();
    EXPECT_EQ(InstallationId(), id);
    EXPECT_EQ(ReadBytes(folder.File(InstallationIdFile)), id.toLatin1() + '\n');

    WriteBytes(folder.File(InstallationIdFile), "não é um id");
    const QString second = InstallationId();
    EXPECT_NE(second, id);
    EXPECT_FALSE(QUuid::fromString(second).isNull());

    WriteBytes(folder.File("alvo"), "de outro");
    QFile::remove(folder.File(InstallationIdFile));
    ASSERT_TRUE(QFile::link(folder.File("alvo"), folder.File(InstallationIdFile)));
    const QString third = InstallationId();
    EXPECT_FALSE(QUuid::fromString(third).isNull());
    EXPECT_FALSE(QFileInfo(folder.File(InstallationIdFile)).isSymLink());
    EXPECT_EQ(ReadBytes(folder.File("alvo")), "de outro");
    QDir::setCurrent(old);
}
