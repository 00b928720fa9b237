// The write-aside file of an interrupted download, kept for the next run:
// NAME.zembo-parcial beside the file, with a side record
// NAME.zembo-parcial.info of what the server said of the file when the
// download began (its listing time and SIZE). A later run resumes it only
// while both still match.
#pragma once

#include "platform/datetime.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class TIdFTP;

class TPartialDownload {
public:
    // The download into destinationFile (a path in the installation folder).
    explicit TPartialDownload(const QString& destinationFile);
    QString PartialFile() const;
    QString RecordFile() const;

    // Reads the side record; false when there is none or it cannot be read.
    bool Load();
    // The loaded record names this listing time and size.
    bool Matches(TDateTime listedTime, std::int64_t size) const;
    // Writes the record for a download about to begin (written aside and renamed).
    void Save(TDateTime listedTime, std::int64_t size);
    // Removes the partial file and its record.
    void Discard() const;

    // The whole step: resumes the partial file when its record matches (the
    // server's REST STREAM permitting), else starts over; on success the
    // file replaces the destination and the record goes. An interrupted
    // transfer keeps both for the next run. check, when given, judges the
    // whole file before it replaces the destination: when it raises, the
    // file is discarded and the error passes on. Returns the bytes received now.
    std::int64_t Fetch(TIdFTP& ftp, const QString& sourceFile, TDateTime listedTime, std::int64_t size,
                       const std::function<void(const QString& file)>& check = {});

private:
    QString FDestination;
    bool FLoaded = false;
    TDateTime FTime;
    std::int64_t FSize = -1;
};

// Removes the partial files and records in folder whose file is no longer
// listed (exact letter case) or that are older than a week at `now`.
void RemoveStalePartials(const QString& folder, const QStringList& listedNames, const QDateTime& now);
