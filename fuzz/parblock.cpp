// The connection and transaction parameter-block builders: "name=value"
// lines, one per input line.
#include "fuzz/fuzzentry.h"

#include "db/ibdatabase.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QStringList params = FuzzText(data, size).split(u'\n');
    try {
        BuildDpb(params);
    } catch (const Exception&) {
    }
    try {
        BuildTpb(params);
    } catch (const Exception&) {
    }
    return 0;
}
