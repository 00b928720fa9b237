// The write-aside file of an interrupted download, kept for the next run:
// NAME.zembo-parcial beside the file, with a side record
// NAME.zembo-parcial.info of what the server said of the file when the
// download began. A later run resumes it only while all of that still
// holds. For a name too long for the suffixes the two files take a short
// hashed name (zembo-HASH.zembo-parcial), and the record keeps the file's.
#pragma once

#include "platform/datetime.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class TIdFTP;

// What the server says of a file: its listing time, its size, the listing's
// whole line and MDTM's time (to the second or finer; empty where the
// server gives none). Only a file the server still describes the same way
// is taken for the same file.
struct TServerFile {
    TDateTime ListedTime;
    std::int64_t Size = -1;
    QString Line;
    QString Stamp;
    bool operator==(const TServerFile&) const = default;
};

class TPartialDownload {
public:
    // The download into destinationFile (a path in the installation folder).
    explicit TPartialDownload(const QString& destinationFile);
    QString PartialFile() const;
    QString RecordFile() const;

    // Reads the side record; false when there is none, it cannot be read or
    // it belongs to another file.
    bool Load();
    // The loaded record.
    const TServerFile& Record() const { return FFile; }
    // The loaded record describes the file as the server does now.
    bool Matches(const TServerFile& file) const;
    // Writes the record for a download about to begin (written aside and renamed).
    void Save(const TServerFile& file);
    // Removes the partial file and its record.
    void Discard() const;

    // The whole step: asks the server for the file's MDTM time, resumes
    // the partial file when its record matches (the server's REST STREAM
    // permitting), else starts over; on success the file replaces the
    // destination and the record goes. A transfer the line cut off keeps
    // both for the next run; a failure to write here (a full disk) keeps
    // neither. check, when given, judges the whole file before it replaces
    // the destination: when it raises, the file is discarded and the error
    // passes on. listed gives the listing's time, size and line. Returns
    // the bytes received now.
    std::int64_t Fetch(TIdFTP& ftp, const QString& sourceFile, TServerFile listed,
                       const std::function<void(const QString& file)>& check = {});

private:
    QString FDestination;
    bool FLoaded = false;
    TServerFile FFile;
};

// Removes the partial files and records in folder whose file is no longer
// listed (exact letter case) or that are older than a week at `now`.
void RemoveStalePartials(const QString& folder, const QStringList& listedNames, const QDateTime& now);
