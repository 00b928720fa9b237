// Binary patches from one build of a file to the next: zstd frames made with
// the old file as the reference prefix (long-distance matching, a high
// level), applied with the old file again as the reference, the output
// bounded and the decoder's window limited.
#pragma once

#include "platform/errors.h"

#include <QString>
#include <cstdint>

// A patch that cannot be made or applied: corrupt, truncated, longer than
// allowed, or asking for more memory than its files justify.
class EDeltaError : public Exception {
public:
    using Exception::Exception;
};

// Writes the patch that rebuilds newFile from oldFile (created or
// replaced, written aside and renamed); returns its size. Raises
// EInOutError for a file that cannot be read or written, EDeltaError when
// the compressor refuses.
std::int64_t MakePatch(const QString& oldFile, const QString& newFile, const QString& patchFile);

// Rebuilds the file from oldFile and the patch into outFile (created anew,
// never through a link; removed again on any failure). The output may be
// at most maxOutput bytes and the decoder's window no larger than the old
// file and that output need. Returns the bytes written. Raises EDeltaError
// for a patch that is corrupt, truncated, followed by other bytes or that
// gives more than maxOutput bytes, EInOutError for a file that cannot be
// read or written.
std::int64_t ApplyPatch(const QString& oldFile, const QString& patchFile, const QString& outFile,
                        std::int64_t maxOutput);
