// zembo-check: what would an update do in this installation folder, and is
// everything in place? Run in the installation folder; changes nothing.
//   zembo-check [--tsv]            the checks and the plan
//   zembo-check --verify [--tsv]   the installed files against the last accepted release
//   zembo-check --history [--tsv]  VERSAO and the upgrade history of each database
//   zembo-check --validate [--tsv] the scripts that ran against the catalogue now, and gaps
// Exit 0: nothing to do (--verify: every file matches); 3: an update is
// pending; 1: a check failed, the server cannot be reached or the release is
// refused (--verify: a file differs, or no release was accepted; --validate:
// a script was edited after it ran, or a gap; the message
// on standard error); 2: bad usage.
#include "platform/errors.h"
#include "platform/text.h"
#include "tools/cli.h"
#include "tools/escape.h"
#include "tools/zembo-check/check.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

enum TExit { exNothing = 0, exFailed = 1, exUsage = 2, exPending = 3 };

// How long before its expiry a signed manifest is warned of.
constexpr qint64 ExpiryWarningDays = 7;

void Print(const QString& line)
{
    WriteText(stdout, line + u'\n');
}

// The window's messages break lines with CR alone, which a terminal would
// print over each other; every other control character is escaped.
int Fail(const QString& message)
{
    WriteText(stderr, EscapeControls(message, u"\n") + u'\n');
    return exFailed;
}

// Seconds shown too: the run compares to the minute, and the operator sees why.
QString TimeText(TDateTime time)
{
    const TDateParts d = DecodeDate(time);
    const TTimeParts t = DecodeTime(time);
    return QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", d.Day, d.Month, d.Year, t.Hour, t.Min, t.Sec);
}

QString LocalText(const TFileCheck& file)
{
    if (file.Item.Decision == fdRecusado)
        return QStringLiteral("-");
    return file.Local ? TimeText(*file.Local) : QStringLiteral("ausente");
}

QString VersionText(const TUpgradePlan& plan)
{
    if (!plan.HasVersionTable)
        return QStringLiteral("sem VERSAO");
    return plan.RecordedVersion.isEmpty() ? QStringLiteral("vazia") : plan.RecordedVersion;
}

QString YesNo(bool value)
{
    return value ? QStringLiteral("sim") : QStringLiteral("não");
}

// How a local copy compares with the manifest (the words of zembo-release verify).
QString DifferenceText(const std::optional<TDifferenceKind>& difference)
{
    if (!difference)
        return QStringLiteral("confere");
    switch (*difference) {
    case dkMissing:
        return QStringLiteral("ausente");
    case dkSize:
        return QStringLiteral("tamanho");
    case dkSha256:
        return QStringLiteral("sha256");
    case dkUnlisted:
        break;
    }
    return QStringLiteral("fora do manifesto");
}

QStringList FileRecord(const TReleaseFileCheck& file)
{
    return {QStringLiteral("manifesto"), file.Name, DifferenceText(file.Difference)};
}

QString SerialText(qint64 serial)
{
    return QStringLiteral("versão ") + QString::number(serial);
}

// When the signed manifest expires, with a warning from a week before.
QStringList ExpiryRecord(const TManifest& manifest)
{
    const std::optional<qint64> days = DaysUntilExpiry(manifest);
    if (!days)
        return {QStringLiteral("validade"), QStringLiteral("sem prazo")};
    QStringList record{QStringLiteral("validade"), QStringLiteral("expira em ") + ExpiryText(manifest)};
    if (*days <= ExpiryWarningDays)
        record << (*days == 1 ? QStringLiteral("aviso: falta 1 dia") : QStringLiteral("aviso: faltam %1 dias").arg(*days)) +
                      QStringLiteral("; depois a versão será recusada até o servidor publicar uma nova");
    return record;
}

QList<QStringList> ReleaseRecords(const TCheckReport& report)
{
    if (!report.Release)
        return {{QStringLiteral("assinatura"), QStringLiteral("não verificada (nenhuma chave configurada)")}};
    QList<QStringList> records{{QStringLiteral("assinatura"), QStringLiteral("válida"),
                                SerialText(report.Release->Manifest.Serial),
                                QStringLiteral("chave ") + report.Release->KeyId},
                               ExpiryRecord(report.Release->Manifest)};
    for (const TReleaseFileCheck& file : report.ReleaseFiles)
        records << FileRecord(file);
    return records;
}

// The report as records: the first field names the record, the others are
// the columns; the plain form pads them, --tsv joins them with tabs.
QList<QStringList> Records(const TCheckReport& report)
{
    QList<QStringList> records;
    for (const TFileCheck& file : report.Files) {
        // A web source's folder gives no times before a transfer: "-".
        const QString served = file.Item.RemoteTime.Value() == 0 ? QStringLiteral("-") : TimeText(file.Item.RemoteTime);
        QStringList fields{QStringLiteral("arquivo"), file.Item.Name, served,
                           LocalText(file), DecisionText(file.Item.Decision)};
        if (file.Item.Decision == fdRecusado)
            fields << file.Item.Reason;
        else if (file.Item.Decision == fdBaixar && report.Release) // what a signed patch would save
            fields << (file.Item.DeltaSize >= 0 ? QStringLiteral("delta %1 bytes").arg(file.Item.DeltaSize)
                                                : QStringLiteral("sem delta"));
        records << fields;
    }
    QStringList replacement{QStringLiteral("substituicao"), MainExecutable, YesNo(report.Replacement)};
    if (report.ReplacementPending)
        replacement << QStringLiteral("pendente: uma atualização anterior não terminou de substituí-lo");
    records << replacement;
    for (const TAliasCheck& alias : report.Aliases) {
        records << QStringList{QStringLiteral("versao"), alias.Alias, VersionText(alias.Plan)};
        for (const TScriptVersion& script : alias.Plan.Scripts)
            records << QStringList{QStringLiteral("script"), alias.Alias, script.Programa, script.Versao};
    }
    return records + ReleaseRecords(report);
}

void PrintTsv(const QList<QStringList>& records)
{
    for (const QStringList& record : records) {
        QStringList fields;
        for (const QString& field : record)
            fields << Escaped(field);
        Print(fields.join(u'\t'));
    }
}

// Each kind of record in columns of its own width; a name from the server
// is printed, never obeyed by the terminal.
void PrintColumns(QList<QStringList> records)
{
    for (QStringList& record : records)
        for (QString& field : record)
            field = EscapeControls(field);
    QMap<QString, QList<qsizetype>> widths;
    for (const QStringList& record : records) {
        QList<qsizetype>& w = widths[record.first()];
        w.resize(std::max(w.size(), record.size()));
        for (qsizetype i = 0; i < record.size(); ++i)
            w[i] = std::max(w[i], record[i].size());
    }
    for (const QStringList& record : records) {
        const QList<qsizetype>& w = widths[record.first()];
        QString line;
        for (qsizetype i = 0; i < record.size(); ++i)
            line += i + 1 < record.size() ? record[i].leftJustified(w[i] + 2) : record[i];
        Print(line);
    }
}

void PrintRecords(const QList<QStringList>& records, bool tsv)
{
    tsv ? PrintTsv(records) : PrintColumns(records);
}

int Check(bool tsv)
{
    TCheckReport report;
    try {
        report = VerificaAtualizacao();
    } catch (const ECheckFailed& failure) {
        if (failure.Kind() == ckArchiver)
            return Fail(failure.Message() + u'\n' + ArchiverDownloadPage());
        return Fail(failure.Message());
    } catch (const std::exception& error) {
        return Fail(ErrorText(error));
    }
    PrintRecords(Records(report), tsv);
    return report.Pending() ? exPending : exNothing;
}

// The installed files against the last accepted release: needs no server
// and no database.
int Verify(bool tsv)
{
    QList<QStringList> records;
    try {
        const std::optional<TManifest> accepted = LastAcceptedManifest(QStringLiteral("."));
        if (!accepted)
            return Fail(QStringLiteral("Nenhuma versão assinada foi aceita nesta pasta (falta ") +
                        QLatin1String(AcceptedReleaseName) + QStringLiteral("): não há com o que conferir."));
        const QList<TReleaseFileCheck> files = ConfereArquivos(*accepted);
        records << QStringList{QStringLiteral("aceita"), SerialText(accepted->Serial),
                               QString::number(files.size()) + QStringLiteral(" arquivos")};
        for (const TReleaseFileCheck& file : files)
            if (file.Difference)
                records << FileRecord(file);
    } catch (const std::exception& error) {
        return Fail(ErrorText(error));
    }
    PrintRecords(records, tsv);
    return records.size() > 1 ? exFailed : exNothing;
}

QStringList HistoryRecord(const QString& alias, const THistoryEntry& e)
{
    return {QStringLiteral("historico"), alias, e.Versao, e.Resultado, e.Inicio, QString::number(e.DuracaoMs) + QStringLiteral(" ms"),
            QString::number(e.Comandos) + QStringLiteral(" comandos"), e.Checksum, e.Copia, e.ArquivoErro, e.Mensagem};
}

QString VersionText(const THistoryReport& report)
{
    if (!report.HasVersionTable)
        return QStringLiteral("sem VERSAO");
    return report.RecordedVersion.isEmpty() ? QStringLiteral("vazia") : report.RecordedVersion;
}

// VERSAO and the history of each database, newest first.
int History(bool tsv)
{
    QList<QStringList> records;
    try {
        for (const auto& [alias, report] : HistoricoDasBases()) {
            records << QStringList{QStringLiteral("versao"), alias, VersionText(report)};
            if (!report.HasHistory)
                records << QStringList{QStringLiteral("historico"), alias, QStringLiteral("sem histórico")};
            for (const THistoryEntry& entry : report.Rows)
                records << HistoryRecord(alias, entry);
        }
    } catch (const std::exception& error) {
        return Fail(ErrorText(error));
    }
    PrintRecords(records, tsv);
    return exNothing;
}

// Each script that ran here against the catalogue's text now, and the
// released versions that never ran here; exit 1 when it lists any.
int Validate(bool tsv)
{
    QList<QStringList> records;
    try {
        for (const auto& [alias, report] : HistoricoDasBases()) {
            if (!report.HasHistory)
                records << QStringList{QStringLiteral("historico"), alias, QStringLiteral("sem histórico")};
            for (const THistoryEntry& entry : report.Findings.Edited)
                records << QStringList{QStringLiteral("alterado"), alias, entry.Versao,
                                       QStringLiteral("o texto no catálogo não é o que rodou em ") + entry.Inicio};
            for (const QString& versao : report.Findings.Gaps)
                records << QStringList{QStringLiteral("lacuna"), alias, versao,
                                       QStringLiteral("liberado e não executado aqui, mas VERSAO o inclui")};
        }
    } catch (const std::exception& error) {
        return Fail(ErrorText(error));
    }
    PrintRecords(records, tsv);
    for (const QStringList& record : records)
        if (record.first() != QLatin1String("historico"))
            return exFailed;
    return exNothing;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TCommandLine cli("zembo-check", {"[--tsv]", "--verify [--tsv]", "--history [--tsv]", "--validate [--tsv]"},
                     "Na pasta da instalação (a pasta atual), diz o que uma atualização faria, sem mudar nada;\n"
                     "com --verify, confere os arquivos instalados com o último manifesto assinado aceito.");
    cli.AddOptions({{"tsv", "campos separados por tabulação"},
                    {"verify", "confere os arquivos instalados com a última versão assinada aceita"},
                    {"history", "VERSAO e o histórico dos scripts de cada base, do mais novo ao mais antigo"},
                    {"validate", "confere os scripts que rodaram com o texto atual do catálogo e aponta lacunas"}});
    if (const std::optional<int> end = cli.Parse(application.arguments()))
        return *end;
    if (!cli.Operands().isEmpty())
        return cli.Usage(QStringLiteral("argumento inesperado: ") + cli.Operands().first());
    const bool tsv = cli.IsSet("tsv");
    if (cli.IsSet("history"))
        return History(tsv);
    if (cli.IsSet("validate"))
        return Validate(tsv);
    return cli.IsSet("verify") ? Verify(tsv) : Check(tsv);
}
