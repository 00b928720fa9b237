#include "update/plan.h"

#include "ftp/listing/ftplist.h"
#include "platform/files.h"
#include "release/release.h"
#include "update/names.h"

namespace {

// Day, month, four-digit year, hour and minute: seconds never count.
QString ToTheMinute(TDateTime time)
{
    const TDateParts d = DecodeDate(time);
    const TTimeParts t = DecodeTime(time);
    return QString::asprintf("%02d/%02d/%04d %02d:%02d", d.Day, d.Month, d.Year, t.Hour, t.Min);
}

} // namespace

QString DecisionText(TFileDecision decision)
{
    switch (decision) {
    case fdBaixar:
        return QStringLiteral("baixar");
    case fdAtualizado:
        return QStringLiteral("atualizado");
    case fdNuncaBaixado:
        return QStringLiteral("nunca baixado");
    case fdRecusado:
        return QStringLiteral("recusado");
    case fdPasta:
        return QStringLiteral("pasta");
    case fdManifesto:
        return QStringLiteral("manifesto");
    case fdSemItem:
        break;
    }
    return {};
}

TNodeState TPlanItem::State() const
{
    switch (Decision) {
    case fdBaixar:
    case fdRecusado:
        return nsRed;
    case fdAtualizado:
    case fdNuncaBaixado:
    case fdPasta:
    case fdManifesto:
        return nsGreen;
    case fdSemItem:
        break;
    }
    return nsNone;
}

bool TUpdatePlan::AnyToFetch() const
{
    return std::any_of(Items.begin(), Items.end(), [](const TPlanItem& i) { return i.Decision == fdBaixar; });
}

bool TUpdatePlan::Fetches(const QString& name) const
{
    return std::any_of(Items.begin(), Items.end(),
                       [&](const TPlanItem& i) { return i.Decision == fdBaixar && i.Name == name; });
}

namespace {

// The one rule of the plan and the run: the main executable is replaced
// after anything was fetched, when it is missing, or when an earlier run
// left its replacement pending; never after an error; only from the archive.
bool SubstituicaoDevida(bool fetched, bool failed, bool archive)
{
    return (fetched || !FileExists(MainExecutable) || SubstituicaoPendente()) && !failed && archive;
}

} // namespace

bool TUpdatePlan::ReplacementExpected() const
{
    const bool refused =
        std::any_of(Items.begin(), Items.end(), [](const TPlanItem& i) { return i.Decision == fdRecusado; });
    return SubstituicaoDevida(AnyToFetch(), refused, FileExists(MainArchive) || Fetches(MainArchive));
}

QString MotivoRecusa(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("nome vazio");
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("o nome contém caracteres de controle");
    if (name.contains(u'/') || name.contains(u'\\'))
        return QStringLiteral("o nome contém um separador de pastas");
    if (name.contains(u':'))
        return QStringLiteral("o nome indica uma unidade ou um caminho absoluto");
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QStringLiteral("o nome aponta para fora da pasta da instalação");
    return {};
}

bool ArquivoDiferente(const QString& name, TDateTime remoteTime)
{
    const TDateTime local = FileAge(name).value_or(Today());
    return ToTheMinute(local) != ToTheMinute(remoteTime);
}

TUpdatePlan PlanejaAtualizacao(const QStringList& lines, const TIdFTPListItems& items, const TManifest* manifest)
{
    TUpdatePlan plan;
    int next = 0;
    for (const QString& line : lines) {
        TPlanItem entry;
        entry.Line = line;
        // Entries keep their line and its order; a line without one (a
        // "total" line, a header) is shown but never judged.
        if (next < items.Count() && items.Items(next).Data() == line) {
            const TIdFTPListItem& item = items.Items(next++);
            entry.Name = item.FileName();
            entry.RemoteTime = item.ModifiedDate();
            if (item.SizeAvail())
                entry.ListedSize = item.Size();
            entry.Reason = MotivoRecusa(entry.Name);
            if (entry.Name == DllsEntry)
                entry.Decision = fdNuncaBaixado;
            else if (item.ItemType() == ditDirectory)
                entry.Decision = fdPasta;
            else if (manifest && (entry.Name == QLatin1String(ReleaseManifestName) ||
                                  entry.Name == QLatin1String(ReleaseSignatureName)))
                entry.Decision = fdManifesto;
            else if (manifest && entry.Reason.isEmpty() && !manifest->Find(entry.Name)) {
                entry.Decision = fdRecusado;
                entry.Reason = QStringLiteral("o arquivo não consta do manifesto assinado da versão");
            }
            else if (!entry.Reason.isEmpty())
                entry.Decision = fdRecusado;
            else
                entry.Decision = ArquivoDiferente(entry.Name, entry.RemoteTime) ? fdBaixar : fdAtualizado;
        }
        plan.Items.append(entry);
    }
    return plan;
}

TUpdatePlan PlanejaPeloManifesto(const TManifest& manifest)
{
    TUpdatePlan plan;
    for (const TManifestEntry& file : manifest.Files) {
        TPlanItem entry;
        entry.Line = file.Name;
        entry.Name = file.Name;
        entry.ListedSize = file.Size;
        entry.Reason = MotivoRecusa(file.Name);
        if (file.Name == DllsEntry)
            entry.Decision = fdNuncaBaixado;
        else if (!entry.Reason.isEmpty())
            entry.Decision = fdRecusado;
        else
            entry.Decision = FileDifference(file, file.Name) ? fdBaixar : fdAtualizado;
        plan.Items.append(entry);
    }
    return plan;
}

bool SubstituicaoNecessaria(bool downloaded, bool failed)
{
    return SubstituicaoDevida(downloaded, failed, FileExists(MainArchive));
}

bool SubstituicaoPendente()
{
    return FileExists(PendingReplacementFile);
}

void MarcaSubstituicaoPendente()
{
    WriteFileBytes(PendingReplacementFile, (MainExecutable + QStringLiteral(" a substituir de ") + MainArchive +
                                            QStringLiteral(", registrado em ") +
                                            Now().ToQDateTime().toString(Qt::ISODate) + u'\n')
                                               .toUtf8());
}
