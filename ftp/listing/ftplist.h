// Directory listings of FTP servers read into items: the item model and the
// one call the FTP client makes after each LIST.
#pragma once

#include "platform/datetime.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

enum TIdDirItemType {
    ditDirectory,
    ditFile,
    ditSymbolicLink,
    ditSymbolicLinkDir,
    ditBlockDev,
    ditCharDev,
    ditFIFO,
    ditSocket,
};

// One listed entry. ModifiedDate is the server's local time as shown, with
// no time-zone conversion.
class TIdFTPListItem {
public:
    TIdFTPListItem() = default;
    virtual ~TIdFTPListItem() = default;
    TIdFTPListItem(const TIdFTPListItem&) = delete;
    TIdFTPListItem& operator=(const TIdFTPListItem&) = delete;

    const QString& Data() const { return FData; }
    void SetData(const QString& value) { FData = value; }

    const QString& FileName() const { return FFileName; }
    // Keeps LocalFileName following the name unless it was given its own
    // value: a name without lower-case letters is taken in lower case.
    void SetFileName(const QString& value);

    const QString& LocalFileName() const { return FLocalFileName; }
    void SetLocalFileName(const QString& value) { FLocalFileName = value; }

    qint64 Size() const { return FSize; }
    void SetSize(qint64 value) { FSize = value; }
    bool SizeAvail() const { return FSizeAvail; }
    void SetSizeAvail(bool value) { FSizeAvail = value; }

    TDateTime ModifiedDate() const { return FModifiedDate; }
    void SetModifiedDate(TDateTime value) { FModifiedDate = value; }
    bool ModifiedAvail() const { return FModifiedAvail; }
    void SetModifiedAvail(bool value) { FModifiedAvail = value; }

    TIdDirItemType ItemType() const { return FItemType; }
    void SetItemType(TIdDirItemType value) { FItemType = value; }

    const QString& PermissionDisplay() const { return FPermissionDisplay; }
    void SetPermissionDisplay(const QString& value) { FPermissionDisplay = value; }

private:
    QString FData;
    QString FFileName;
    QString FLocalFileName;
    qint64 FSize = 0;
    bool FSizeAvail = true;
    TDateTime FModifiedDate;
    bool FModifiedAvail = true;
    TIdDirItemType FItemType = ditFile;
    QString FPermissionDisplay;
};

// An entry of a Unix long listing. The three permission groups are the
// characters 2-4, 5-7 and 8-10 of the permission field.
class TIdUnixFTPListItem : public TIdFTPListItem {
public:
    const QString& OwnerName() const { return FOwnerName; }
    void SetOwnerName(const QString& value) { FOwnerName = value; }
    const QString& GroupName() const { return FGroupName; }
    void SetGroupName(const QString& value) { FGroupName = value; }

    const QString& OwnerPermissions() const { return FOwnerPermissions; }
    void SetOwnerPermissions(const QString& value) { FOwnerPermissions = value; }
    const QString& GroupPermissions() const { return FGroupPermissions; }
    void SetGroupPermissions(const QString& value) { FGroupPermissions = value; }
    const QString& OtherPermissions() const { return FOtherPermissions; }
    void SetOtherPermissions(const QString& value) { FOtherPermissions = value; }

    int LinkCount() const { return FLinkCount; }
    void SetLinkCount(int value) { FLinkCount = value; }
    const QString& LinkedItemName() const { return FLinkedItemName; }
    void SetLinkedItemName(const QString& value) { FLinkedItemName = value; }

    qint64 NumberBlocks() const { return FNumberBlocks; }
    void SetNumberBlocks(qint64 value) { FNumberBlocks = value; }
    qint64 Inode() const { return FInode; }
    void SetInode(qint64 value) { FInode = value; }

private:
    QString FOwnerName;
    QString FGroupName;
    QString FOwnerPermissions;
    QString FGroupPermissions;
    QString FOtherPermissions;
    int FLinkCount = 0;
    QString FLinkedItemName;
    qint64 FNumberBlocks = 0;
    qint64 FInode = 0;
};

// An entry of the Windows FTP service's listing; nothing beyond the common fields.
class TIdWindowsNTFTPListItem : public TIdFTPListItem {};

// The items of one listing, in the order of the lines that made them.
class TIdFTPListItems {
public:
    int Count() const { return int(FItems.size()); }
    TIdFTPListItem& Items(int index) const { return *FItems.at(size_t(index)); }
    TIdFTPListItem& Add(std::unique_ptr<TIdFTPListItem> item);
    void RemoveLast() { FItems.pop_back(); }
    void Clear() { FItems.clear(); }
    void Reserve(int count) { FItems.reserve(size_t(count)); }

private:
    std::vector<std::unique_ptr<TIdFTPListItem>> FItems;
};

// Reads the lines of a LIST or NLST reply into `items` (cleared first).
// `dirFormat` receives the ident of the parser that recognised the listing
// ("Unix", "Windows NT", ...), or stays empty when none did or the listing
// has no lines; an unrecognised listing is no error and leaves `items`
// empty. `now` is the client's local time, from which listings that omit
// the year get it.
//
// A listing the recognised parser cannot read raises its error (an
// EConvertError from the Unix parser). `dirFormat` is set by then, and the
// items made before the failing line, and the failing line's own item, stay
// in `items`; the caller keeps that collection rather than parsing again.
void ParseFTPListing(const QStringList& lines, const QString& systemDesc, bool details,
                     TIdFTPListItems& items, QString& dirFormat, TDateTime now = Now());

// Splits the text of a listing into lines as the client stores them: a line
// ends at LF, CR, or CR LF; a final line break gives no empty last line; a
// NUL character ends the text.
QStringList SplitListingLines(const QString& text);
