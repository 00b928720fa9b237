#include "ftp/resume.h"

#include "ftp/idftp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString PartialSuffix = QStringLiteral(".zembo-parcial");
const QString RecordSuffix = QStringLiteral(".zembo-parcial.info");
constexpr int StaleDays = 7;
// A record is two short lines; anything longer is not ours.
constexpr qint64 MaxRecordBytes = 256;

// The file a partial file or record belongs to, or empty for other names.
QString OwnerName(const QString& entry)
{
    for (const QString& suffix : {RecordSuffix, PartialSuffix})
        if (entry.endsWith(suffix))
            return entry.left(entry.size() - suffix.size());
    return QString();
}

} // namespace

TPartialDownload::TPartialDownload(const QString& destinationFile) : FDestination(destinationFile) {}

QString TPartialDownload::PartialFile() const { return FDestination + PartialSuffix; }

QString TPartialDownload::RecordFile() const { return FDestination + RecordSuffix; }

bool TPartialDownload::Load()
{
    FLoaded = false;
    QFile file(RecordFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.read(MaxRecordBytes).split('\n');
    if (lines.size() < 2 || !lines.at(0).startsWith("time=") || !lines.at(1).startsWith("size="))
        return false;
    bool timeOk = false, sizeOk = false;
    const double time = lines.at(0).mid(5).toDouble(&timeOk);
    const qlonglong size = lines.at(1).mid(5).toLongLong(&sizeOk);
    if (!timeOk || !sizeOk || size < 0)
        return false;
    FTime = TDateTime(time);
    FSize = size;
    FLoaded = true;
    return true;
}

bool TPartialDownload::Matches(TDateTime listedTime, std::int64_t size) const
{
    return FLoaded && FTime.Value() == listedTime.Value() && FSize == size;
}

void TPartialDownload::Save(TDateTime listedTime, std::int64_t size)
{
    QSaveFile file(RecordFile());
    const QByteArray text = "time=" + QByteArray::number(listedTime.Value(), 'g', 17) + "\nsize="
                            + QByteArray::number(qlonglong(size)) + "\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw EFCreateError(QDir::current().absoluteFilePath(RecordFile()), file.errorString());
    FTime = listedTime;
    FSize = size;
    FLoaded = true;
}

void TPartialDownload::Discard() const
{
    QFile::remove(PartialFile());
    QFile::remove(RecordFile());
}

std::int64_t TPartialDownload::Fetch(TIdFTP& ftp, const QString& sourceFile, TDateTime listedTime, std::int64_t size,
                                     const std::function<void(const QString& file)>& check)
{
    if (!(Load() && Matches(listedTime, size)))
        Discard();
    Save(listedTime, size);
    std::int64_t received = 0;
    try {
        received = ftp.GetResumable(sourceFile, FDestination, PartialFile(), size, check);
    } catch (...) {
        if (!QFile::exists(PartialFile())) // refused whole: nothing is left to resume
            QFile::remove(RecordFile());
        throw;
    }
    QFile::remove(RecordFile());
    return received;
}

void RemoveStalePartials(const QString& folder, const QStringList& listedNames, const QDateTime& now)
{
    const QDir dir(folder);
    const QStringList entries =
        dir.entryList({QLatin1Char('*') + PartialSuffix, QLatin1Char('*') + RecordSuffix}, QDir::Files | QDir::Hidden);
    for (const QString& entry : entries) {
        const QString owner = OwnerName(entry);
        const QFileInfo info(dir.filePath(entry));
        if (!listedNames.contains(owner) || info.lastModified().daysTo(now) >= StaleDays)
            QFile::remove(info.filePath());
    }
}
