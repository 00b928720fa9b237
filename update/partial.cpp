#include "update/partial.h"

#include "ftp/idftp.h"
#include "platform/files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <optional>

namespace {

const QString PartialSuffix = QStringLiteral(".zembo-parcial");
const QString RecordSuffix = QStringLiteral(".zembo-parcial.info");
const QString HashedPrefix = QStringLiteral("zembo-");
constexpr int StaleDays = 7;
// The longest file name the file systems here take, in bytes.
constexpr qsizetype MaxNameBytes = 255;
// A record is a few lines, one of them a listing line; anything longer is not ours.
constexpr qint64 MaxRecordBytes = 4096;

// The folder part and the name the two files share: the file's own name,
// or for one too long for the suffixes a short hash of it.
QString SharedBase(const QString& destination)
{
    const QFileInfo info(destination);
    const QString name = info.fileName();
    if (QFile::encodeName(name).size() + RecordSuffix.size() <= MaxNameBytes)
        return destination;
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QString hashed = HashedPrefix + QString::fromLatin1(hash);
    return destination.left(destination.size() - name.size()) + hashed;
}

// The value of the record's line "key=value", or nothing.
std::optional<QString> Field(const QList<QByteArray>& lines, const char* key)
{
    const QByteArray prefix = QByteArray(key) + '=';
    for (const QByteArray& line : lines)
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    return std::nullopt;
}

} // namespace

TPartialDownload::TPartialDownload(const QString& destinationFile) : FDestination(destinationFile) {}

QString TPartialDownload::PartialFile() const { return SharedBase(FDestination) + PartialSuffix; }

QString TPartialDownload::RecordFile() const { return SharedBase(FDestination) + RecordSuffix; }

bool TPartialDownload::Load()
{
    FLoaded = false;
    QFile file(RecordFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.read(MaxRecordBytes).split('\n');
    const auto name = Field(lines, "name"), time = Field(lines, "time"), size = Field(lines, "size"),
               line = Field(lines, "line"), stamp = Field(lines, "stamp");
    if (!name || !time || !size || !line || !stamp || *name != QFileInfo(FDestination).fileName())
        return false;
    bool timeOk = false, sizeOk = false;
    FFile.ListedTime = TDateTime(time->toDouble(&timeOk));
    FFile.Size = size->toLongLong(&sizeOk);
    FFile.Line = *line;
    FFile.Stamp = *stamp;
    FLoaded = timeOk && sizeOk && FFile.Size >= 0;
    return FLoaded;
}

bool TPartialDownload::Matches(const TServerFile& file) const
{
    return FLoaded && FFile == file;
}

void TPartialDownload::Save(const TServerFile& file)
{
    const QByteArray text = "name=" + QFileInfo(FDestination).fileName().toUtf8() + "\ntime=" +
                            QByteArray::number(file.ListedTime.Value(), 'g', 17) + "\nsize=" +
                            QByteArray::number(qlonglong(file.Size)) + "\nstamp=" + file.Stamp.toUtf8() +
                            "\nline=" + file.Line.toUtf8() + "\n";
    try {
        WriteFileBytes(RecordFile(), text);
    } catch (const EInOutError& error) {
        throw EFCreateError(QDir::current().absoluteFilePath(RecordFile()), error.Message());
    }
    FFile = file;
    FLoaded = true;
}

void TPartialDownload::Discard() const
{
    QFile::remove(PartialFile());
    QFile::remove(RecordFile());
}

std::int64_t TPartialDownload::Fetch(TIdFTP& ftp, const QString& sourceFile, TServerFile listed,
                                     const std::function<void(const QString& file)>& check)
{
    listed.Stamp = ftp.ModifiedStamp(sourceFile);
    // A link in the partial file's place is not ours to resume into: it goes, as a link.
    if (!(Load() && Matches(listed)) || IsLink(PartialFile()))
        Discard();
    Save(listed);
    std::int64_t received = 0;
    try {
        received = ftp.GetResumable(sourceFile, FDestination, PartialFile(), listed.Size, check);
    } catch (...) {
        if (!QFile::exists(PartialFile())) // refused whole, or not writable here: nothing is left to resume
            QFile::remove(RecordFile());
        throw;
    }
    QFile::remove(RecordFile());
    return received;
}

void RemoveStalePartials(const QString& folder, const QStringList& listedNames, const QDateTime& now)
{
    const QDir dir(folder);
    QSet<QString> kept;
    for (const QString& name : listedNames) {
        const TPartialDownload download(dir.filePath(name));
        kept << QFileInfo(download.PartialFile()).fileName() << QFileInfo(download.RecordFile()).fileName();
    }
    const QStringList entries =
        dir.entryList({QLatin1Char('*') + PartialSuffix, QLatin1Char('*') + RecordSuffix}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        const QFileInfo info(dir.filePath(entry));
        if (!kept.contains(entry) || info.lastModified().daysTo(now) >= StaleDays)
            QFile::remove(info.filePath());
    }
}
