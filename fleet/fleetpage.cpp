#include "fleet/fleet.h"

#include "platform/text.h"

#include <algorithm>

namespace {

constexpr int ChartWidth = 520;
constexpr int LabelWidth = 130;
constexpr int BarHeight = 18;
constexpr int BarsShown = 15; // the rest go into one bar

const char* const Style = R"(
body{font:14px/1.4 "DejaVu Sans",sans-serif;margin:24px;color:#1f2933;background:#f5f7fa}
h1{font-size:22px;margin:0 0 4px}h2{font-size:16px;margin:24px 0 8px}
.gerado{color:#52606d;margin:0 0 16px}
.contagens{display:flex;gap:12px;flex-wrap:wrap}
.caixa{background:#fff;border:1px solid #d9e2ec;border-radius:6px;padding:10px 16px;min-width:120px}
.caixa b{display:block;font-size:26px}.caixa span{color:#52606d}
.caixa.ruim b{color:#c62828}.caixa.bom b{color:#2e7d32}
.graficos{display:flex;gap:16px;flex-wrap:wrap;align-items:flex-start}
figure{background:#fff;border:1px solid #d9e2ec;border-radius:6px;margin:0;padding:10px}
figcaption{font-weight:bold;margin-bottom:6px}
svg text{font:12px "DejaVu Sans",sans-serif;fill:#1f2933}
.legenda span{display:inline-block;margin-right:12px}.legenda i{display:inline-block;width:10px;height:10px;margin-right:4px}
table{border-collapse:collapse;background:#fff;width:100%;font-size:13px}
th,td{border-bottom:1px solid #e4e7eb;padding:3px 6px;text-align:left;vertical-align:top;white-space:nowrap}
th{background:#e4e7eb;position:sticky;top:0}
tbody tr{content-visibility:auto;contain-intrinsic-size:auto 22px}
tr.falhando td:first-child{border-left:4px solid #c62828}tr.travada td:first-child{border-left:4px solid #1565c0}
tr.silenciosa td:first-child{border-left:4px solid #757575}tr.atrasada td:first-child{border-left:4px solid #ef6c00}
tr.emdia td:first-child{border-left:4px solid #2e7d32}
td.causa{max-width:420px;word-break:break-word;white-space:normal;color:#52606d}
.sinal{display:inline-block;border-radius:3px;padding:0 4px;margin-right:2px;color:#fff;font-size:11px}
.sinal.falhando{background:#c62828}.sinal.travada{background:#1565c0}.sinal.silenciosa{background:#757575}
.sinal.atrasada{background:#ef6c00}.sinal.emdia{background:#2e7d32}
)";

struct TOutcomeColour {
    const char* Name;
    const char* Label;
    const char* Colour;
};
constexpr TOutcomeColour Outcomes[] = {
    {"sucesso", "sucesso", "#2e7d32"},         {"erros", "erros", "#c62828"},
    {"script", "script falhou", "#ef6c00"},    {"sem_conexao", "sem conexão", "#6a1b9a"},
    {"cancelada", "cancelada", "#9aa5b1"},     {"em andamento", "em andamento", "#1565c0"},
};
const char* const OtherColour = "#52606d";

// Also "%", so that a text put into the page is never read as a place of
// QString::arg's by a later call.
QString Html(const QString& text)
{
    return EscapeControls(text).toHtmlEscaped().replace(u'%', QStringLiteral("&#37;"));
}

QString When(const QDateTime& moment)
{
    return moment.toUTC().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

QString CountBox(const QString& id, int count, const QString& label, const QString& kind)
{
    return QStringLiteral("<div class=\"caixa %1\"><b id=\"n-%2\">%3</b><span>%4</span></div>")
        .arg(kind, id)
        .arg(count)
        .arg(label);
}

QString Counts(const TFleet& fleet)
{
    const int all = int(fleet.Instalacoes.size());
    const int good = fleet.Contagem([](const TInstallation& i) { return i.EmDia(); });
    const int behind = fleet.Contagem([](const TInstallation& i) { return i.Atrasada; });
    const int failing = fleet.Contagem([](const TInstallation& i) { return i.Falhando; });
    const int silent = fleet.Contagem([](const TInstallation& i) { return i.Silenciosa; });
    const int stuck = fleet.Contagem([](const TInstallation& i) { return i.Travada; });
    const auto bad = [](int n) { return n > 0 ? QStringLiteral("ruim") : QString(); };
    return QStringLiteral("<section class=\"contagens\">") +
           CountBox(QStringLiteral("instalacoes"), all, QStringLiteral("instalações"), {}) +
           CountBox(QStringLiteral("emdia"), good, QStringLiteral("em dia"), QStringLiteral("bom")) +
           CountBox(QStringLiteral("atrasadas"), behind, QStringLiteral("atrasadas"), bad(behind)) +
           CountBox(QStringLiteral("falhando"), failing, QStringLiteral("falhando"), bad(failing)) +
           CountBox(QStringLiteral("silenciosas"), silent, QStringLiteral("sem notícias há %1 dias").arg(fleet.Dias),
                    bad(silent)) +
           CountBox(QStringLiteral("travadas"), stuck, QStringLiteral("em andamento há mais de 1 hora"), bad(stuck)) +
           QStringLiteral("</section>\n");
}

// Horizontal bars, one per value, in the order given; past BarsShown the
// rest are summed into one bar.
QString BarChart(const QString& caption, QList<std::pair<QString, int>> bars)
{
    if (bars.size() > BarsShown) {
        int rest = 0;
        for (qsizetype k = BarsShown - 1; k < bars.size(); ++k)
            rest += bars[k].second;
        bars.resize(BarsShown - 1);
        bars.append({QStringLiteral("outras"), rest});
    }
    int top = 1;
    for (const auto& bar : bars)
        top = std::max(top, bar.second);
    const int height = std::max(1, int(bars.size())) * (BarHeight + 4);
    QString svg = QStringLiteral("<figure><figcaption>%1</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" "
                                 "width=\"%2\" height=\"%3\" role=\"img\">")
                      .arg(Html(caption))
                      .arg(ChartWidth)
                      .arg(height);
    const int room = ChartWidth - LabelWidth - 60;
    for (qsizetype k = 0; k < bars.size(); ++k) {
        const int y = int(k) * (BarHeight + 4);
        const int width = std::max(1, int(qint64(room) * bars[k].second / top));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>"
                              "<rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" fill=\"#3e7cb1\"/>"
                              "<text x=\"%8\" y=\"%2\">%9</text>")
                   .arg(LabelWidth - 6)
                   .arg(y + BarHeight - 5)
                   .arg(Html(bars[k].first))
                   .arg(LabelWidth)
                   .arg(y)
                   .arg(width)
                   .arg(BarHeight)
                   .arg(LabelWidth + width + 4)
                   .arg(bars[k].second);
    }
    return svg + QStringLiteral("</svg></figure>\n");
}

QList<std::pair<QString, int>> BySerial(const TFleet& fleet)
{
    QMap<qint64, int> counts; // -1: no signed release
    for (const TInstallation& i : fleet.Instalacoes)
        ++counts[i.Serie.value_or(-1)];
    QList<std::pair<QString, int>> bars;
    for (auto it = counts.constEnd(); it != counts.constBegin();) {
        --it;
        bars.append({it.key() < 0 ? QStringLiteral("sem assinatura") : QStringLiteral("versão %1").arg(it.key()),
                     it.value()});
    }
    return bars;
}

QList<std::pair<QString, int>> ByVersion(const TFleet& fleet)
{
    QMap<QString, int> counts;
    for (const TInstallation& i : fleet.Instalacoes)
        ++counts[i.Versao];
    QList<std::pair<QString, int>> bars;
    for (auto it = counts.constEnd(); it != counts.constBegin();) {
        --it;
        bars.append({it.key().isEmpty() ? QStringLiteral("desconhecida") : it.key(), it.value()});
    }
    return bars;
}

const char* ColourOf(const QString& outcome)
{
    for (const TOutcomeColour& o : Outcomes)
        if (outcome == QLatin1String(o.Name))
            return o.Colour;
    return OtherColour;
}

// Stacked columns, one per day, one colour per outcome.
QString DayChart(const TFleet& fleet)
{
    constexpr int column = 16, gap = 3, plot = 150, base = plot + 4;
    int top = 1;
    for (const QMap<QString, int>& day : fleet.PorDia) {
        int sum = 0;
        for (int n : day)
            sum += n;
        top = std::max(top, sum);
    }
    const int width = int(fleet.PorDia.size()) * (column + gap) + 40;
    QString svg = QStringLiteral("<figure><figcaption>Execuções por dia e resultado (últimos 30 dias, UTC; "
                                 "máximo %1 num dia)</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" "
                                 "width=\"%2\" height=\"%3\" role=\"img\">")
                      .arg(top)
                      .arg(width)
                      .arg(base + 18);
    int x = 0;
    for (auto day = fleet.PorDia.constBegin(); day != fleet.PorDia.constEnd(); ++day, x += column + gap) {
        int y = plot;
        for (auto n = day.value().constBegin(); n != day.value().constEnd(); ++n) {
            const int h = std::max(1, int(qint64(plot) * n.value() / top));
            y -= h;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"><title>%6: %7 %8"
                                  "</title></rect>")
                       .arg(x)
                       .arg(y)
                       .arg(column)
                       .arg(h)
                       .arg(QLatin1String(ColourOf(n.key())))
                       .arg(day.key().toString(QStringLiteral("dd/MM")))
                       .arg(n.value())
                       .arg(Html(n.key()));
        }
        if (day == fleet.PorDia.constBegin() || day.key().dayOfWeek() == 1) // the first day and every Monday
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\">%3</text>")
                       .arg(x)
                       .arg(base + 14)
                       .arg(day.key().toString(QStringLiteral("dd/MM")));
    }
    svg += QStringLiteral("</svg><div class=\"legenda\">");
    for (const TOutcomeColour& o : Outcomes)
        svg += QStringLiteral("<span><i style=\"background:%1\"></i>%2</span>")
                   .arg(QLatin1String(o.Colour), QString::fromUtf8(o.Label));
    return svg + QStringLiteral("</div></figure>\n");
}

QString Row(const TInstallation& i)
{
    const QStringList flags = i.Sinais();
    QString signs;
    for (const QString& flag : flags)
        signs += QStringLiteral("<span class=\"sinal %1\">%1</span>").arg(flag);
    if (flags.isEmpty())
        signs = QStringLiteral("<span class=\"sinal emdia\">em dia</span>");
    return QStringLiteral("<tr class=\"%1\"><td>%2</td><td title=\"%3\">%4</td><td>%5</td><td>%6</td><td>%7</td>"
                          "<td>%8</td><td>%9</td><td>%10</td><td>%11</td><td>%12</td><td class=\"causa\">%13</td></tr>\n")
        .arg(flags.isEmpty() ? QStringLiteral("emdia") : flags.first(), signs, Html(i.Instalacao),
             Html(i.Instalacao.left(8)), Html(i.Alias), Html(i.Maquina), When(i.Quando), Html(i.Face),
             Html(i.Resultado))
        .arg(i.Serie ? QString::number(*i.Serie) : QStringLiteral("—"), Html(i.Versao), QString::number(i.Execucoes),
             Html(i.Causa));
}

QString Table(const TFleet& fleet)
{
    QString html = QStringLiteral(
        "<h2>Instalações, as piores primeiro</h2>\n<table id=\"tabela\"><thead><tr><th>Sinais</th><th>Instalação</th>"
        "<th>Alias</th><th>Máquina</th><th>Última execução (UTC)</th><th>Face</th><th>Resultado</th><th>Série</th>"
        "<th>VERSAO</th><th>Execuções</th><th>Causa</th></tr></thead>\n<tbody>\n");
    html.reserve(fleet.Instalacoes.size() * 400);
    for (const TInstallation& i : fleet.Instalacoes)
        html += Row(i);
    return html + QStringLiteral("</tbody></table>\n");
}

} // namespace

QByteArray PaginaDaFrota(const TFleet& fleet)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
                                  "<title>Atualizações do Sistema Keldarin</title><style>") +
                   QLatin1String(Style) + QStringLiteral("</style></head><body>\n");
    html += QStringLiteral("<h1>Atualizações do Sistema Keldarin</h1>\n<p class=\"gerado\">Gerado em %1 UTC. Versão "
                           "mais nova instalada: %2. Script mais novo liberado: %3.</p>\n")
                .arg(When(fleet.Agora),
                     fleet.SerieMaisNova ? QString::number(*fleet.SerieMaisNova) : QStringLiteral("nenhuma assinada"),
                     fleet.VersaoMaisNova.isEmpty() ? QStringLiteral("nenhum") : Html(fleet.VersaoMaisNova));
    html += Counts(fleet);
    html += QStringLiteral("<h2>Distribuição</h2>\n<section class=\"graficos\">\n") +
            BarChart(QStringLiteral("Instalações por versão assinada"), BySerial(fleet)) +
            BarChart(QStringLiteral("Instalações por versão da base (VERSAO)"), ByVersion(fleet)) + DayChart(fleet) +
            QStringLiteral("</section>\n");
    html += Table(fleet);
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}
