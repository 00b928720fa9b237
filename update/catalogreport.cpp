#include "update/catalogreport.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QUuid>

namespace {

QString FaceText(TRunFace face)
{
    return face == rfNoturna ? QStringLiteral("noturna") : QStringLiteral("janela");
}

QString RandomId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The id the file holds, or empty when it holds none (missing, a link, anything else).
QString StoredId(const QString& path)
{
    QFile file;
    if (!OpenNoFollow(file, path, QIODevice::ReadOnly | QIODevice::ExistingOnly).isEmpty())
        return {};
    const QString text = QString::fromLatin1(file.read(64)).trimmed();
    return QUuid::fromString(text).isNull() ? QString() : text.toLower();
}

} // namespace

QString InstallationId()
{
    const QString path = QDir::current().absoluteFilePath(InstallationIdFile);
    if (const QString stored = StoredId(path); !stored.isEmpty())
        return stored;
    const QString made = RandomId();
    WriteFileBytes(path, made.toLatin1() + '\n');
    return made;
}

TCatalogReport::TCatalogReport(QString catalogue, TRunFace face, std::function<void(const QString&)> log)
    : FCatalogue(std::move(catalogue)), FFace(face), FLog(std::move(log))
{
}

void TCatalogReport::Start(const std::function<TRunEvent()>& facts)
{
    try {
        if (!HasRunTable(FCatalogue))
            return;
        FInstallation = InstallationId();
    } catch (const std::exception& error) {
        FLog(QStringLiteral("relatório ao catálogo não enviado: ") + ErrorText(error));
        return;
    }
    FEnabled = true;
    FRun = RandomId();
    Send(facts(), RunStartEvent);
}

void TCatalogReport::End(const std::function<TRunEvent()>& facts)
{
    if (FEnabled)
        Send(facts(), RunEndEvent);
}

void TCatalogReport::Send(TRunEvent event, const QString& evento)
{
    event.Execucao = FRun;
    event.Evento = evento;
    event.Instalacao = FInstallation;
    event.Maquina = QSysInfo::machineHostName();
    event.Face = FaceText(FFace);
    event.Momento = QDateTime::currentDateTimeUtc();
    event.Atualizador = QLatin1String(Settings::UpdaterVersion);
    try {
        InsertRunEvent(FCatalogue, event);
    } catch (const std::exception& error) {
        FLog(QStringLiteral("relatório ao catálogo (") + evento + QStringLiteral(") recusado: ") + ErrorText(error));
    }
}
