// zembo-check: what would an update do in this installation folder, and is
// everything in place? Run in the installation folder; changes nothing.
//   zembo-check [--tsv]
// Exit 0: nothing to do; 3: an update is pending; 1: a check failed or the
// server cannot be reached (the message on standard error); 2: bad usage.
#include "platform/errors.h"
#include "tools/escape.h"
#include "tools/zembo-check/check.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

enum TExit { exNothing = 0, exFailed = 1, exUsage = 2, exPending = 3 };

void Print(const QString& line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

// The window's messages break lines with CR alone, which a terminal would
// print over each other.
int Fail(QString message)
{
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    const QByteArray bytes = (message + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
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

// The report as records: the first field names the record, the others are
// the columns; the plain form pads them, --tsv joins them with tabs.
QList<QStringList> Records(const TCheckReport& report)
{
    QList<QStringList> records;
    for (const TFileCheck& file : report.Files) {
        QStringList fields{QStringLiteral("arquivo"), file.Item.Name, TimeText(file.Item.RemoteTime),
                           LocalText(file), DecisionText(file.Item.Decision)};
        if (file.Item.Decision == fdRecusado)
            fields << file.Item.Reason;
        records << fields;
    }
    records << QStringList{QStringLiteral("substituicao"), MainExecutable, YesNo(report.Replacement)};
    for (const TAliasCheck& alias : report.Aliases) {
        records << QStringList{QStringLiteral("versao"), alias.Alias, VersionText(alias.Plan)};
        for (const TScriptVersion& script : alias.Plan.Scripts)
            records << QStringList{QStringLiteral("script"), alias.Alias, script.Programa, script.Versao};
    }
    return records;
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

// Each kind of record in columns of its own width.
void PrintColumns(const QList<QStringList>& records)
{
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

int Usage(const char* why)
{
    std::fprintf(stderr, "zembo-check: %s\nusage: zembo-check [--tsv]   (run in the installation folder)\n", why);
    return exUsage;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    bool tsv = false;
    for (int i = 1; i < argc; ++i) {
        if (QLatin1String(argv[i]) == QLatin1String("--tsv"))
            tsv = true;
        else
            return Usage("unknown argument");
    }
    TCheckReport report;
    try {
        report = VerificaAtualizacao();
    } catch (const ECheckFailed& failure) {
        if (failure.Kind() == ckArchiver)
            return Fail(failure.Message() + u'\n' + ArchiverDownloadPage());
        return Fail(failure.Message());
    } catch (const Exception& error) {
        return Fail(error.Message());
    } catch (const std::exception& error) {
        return Fail(QString::fromUtf8(error.what()));
    }
    const QList<QStringList> records = Records(report);
    tsv ? PrintTsv(records) : PrintColumns(records);
    return report.Pending() ? exPending : exNothing;
}
