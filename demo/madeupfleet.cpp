#include "demo/madeupfleet.h"

#include <QRandomGenerator>
#include <QUuid>

namespace {

// What an installation is like: most are fine.
enum TKind { kdFine, kdFailing, kdNoConnection, kdBehind, kdSilent, kdStuck };

TKind KindOf(int index)
{
    switch (index % 23) {
    case 1:
        return kdFailing;
    case 4:
        return kdNoConnection;
    case 6:
    case 15:
        return kdBehind;
    case 8:
        return kdSilent;
    case 10:
        return kdStuck;
    default:
        return kdFine;
    }
}

QString Id(QRandomGenerator& random)
{
    const quint32 a = random.generate(), b = random.generate(), c = random.generate(), d = random.generate();
    return QUuid(a, quint16(b), quint16(b >> 16), uchar(c), uchar(c >> 8), uchar(c >> 16), uchar(c >> 24), uchar(d),
                 uchar(d >> 8), uchar(d >> 16), uchar(d >> 24))
        .toString(QUuid::WithoutBraces);
}

struct TInstallationPlan {
    QString Id;
    QString Alias;
    QString Machine;
    TKind Kind;
};

void AddRun(QList<TRunEvent>& events, QRandomGenerator& random, const TInstallationPlan& plan, const QDateTime& start,
            bool last)
{
    TRunEvent begin;
    begin.Execucao = Id(random);
    begin.Evento = RunStartEvent;
    begin.Instalacao = plan.Id;
    begin.Alias = plan.Alias;
    begin.Maquina = plan.Machine;
    begin.Face = random.bounded(10) == 0 ? QStringLiteral("janela") : QStringLiteral("noturna");
    begin.Momento = start;
    const bool behind = plan.Kind == kdBehind;
    begin.SerieAntes = behind ? 41 : 42;
    begin.VersaoAntes = behind ? QStringLiteral("0005") : QStringLiteral("0006");
    begin.Atualizador = QStringLiteral("1.0");
    events.append(begin);
    if (last && plan.Kind == kdStuck)
        return;
    TRunEvent end = begin;
    end.Evento = RunEndEvent;
    end.Momento = start.addSecs(30 + random.bounded(600));
    end.SerieDepois = begin.SerieAntes;
    end.VersaoDepois = begin.VersaoAntes;
    end.Arquivos = random.bounded(4);
    end.Bytes = *end.Arquivos * (100000 + random.bounded(5000000));
    end.Resultado = QStringLiteral("sucesso");
    if (last && plan.Kind == kdFailing) {
        end.Resultado = QStringLiteral("script");
        end.Causa = QStringLiteral("Um script falhou: veja o arquivo SCRIPT_ERRO.");
        end.ScriptFalhou = QStringLiteral("0006");
        end.VersaoDepois = QStringLiteral("0005");
    } else if (last && plan.Kind == kdNoConnection) {
        end.Resultado = QStringLiteral("sem_conexao");
        end.Causa = QStringLiteral("Não foi possível estabelecer conexão ftp com o servidor: tempo esgotado.");
        end.Arquivos = 0;
        end.Bytes = 0;
    } else if (random.bounded(40) == 0) {
        end.Resultado = QStringLiteral("erros");
        end.Causa = QStringLiteral("Um ou mais arquivos não foram atualizados.");
    }
    events.append(end);
}

} // namespace

QList<TRunEvent> MadeUpFleet(int installations, int runs, const QDateTime& now)
{
    QRandomGenerator random(20261210);
    const int nights = std::max(1, runs / std::max(1, installations));
    QList<TRunEvent> events;
    events.reserve(qsizetype(installations) * nights * 2);
    const QDateTime today = QDateTime(now.toUTC().date(), QTime(5, 0), Qt::UTC); // 02:00 in Brasília
    for (int i = 0; i < installations; ++i) {
        const TInstallationPlan plan{Id(random), QStringLiteral("CLIENTE%1").arg(i + 1, 4, 10, QLatin1Char('0')),
                                     QStringLiteral("servidor-%1").arg(i + 1), KindOf(i)};
        const int lastNight = plan.Kind == kdSilent ? 12 : 0;
        for (int n = nights - 1; n >= 0; --n) {
            QDateTime start = today.addDays(-(n + lastNight)).addSecs(random.bounded(3600));
            if (plan.Kind == kdStuck && n == 0)
                start = now.toUTC().addSecs(-3 * 3600);
            if (start > now)
                start = start.addDays(-1);
            AddRun(events, random, plan, start, n == 0);
        }
    }
    return events;
}
