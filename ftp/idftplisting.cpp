// DirectoryListing: the last listing read into items by the listing library.
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"

const TIdFTPListItems& TIdFTP::DirectoryListing()
{
    if (!FDirectoryListing) {
        auto items = std::make_shared<TIdFTPListItems>();
        // Kept even when a line fails to parse, so a second use does not
        // parse again.
        FDirectoryListing = items;
        if (!FListResult.isEmpty())
            ParseFTPListing(FListResult, FSystemDesc, FListDetails, *items, FDirFormat);
    }
    return *FDirectoryListing;
}
