// The delta index parser: the input read as an index, and as the index's
// minisign signature of a fixed index.
#include "fuzz/fuzzentry.h"

#include "release/release.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = FuzzBytes(data, size);
    static const QList<TPublicKey> keys
        = ParsePublicKeys("RWSFRlG/O2BKq+EqC+WkUABvparh6Cy9Gm5YeyyLY+mt8QtIZEiiYQpq\n");
    try {
        const TDeltaIndex index = ParseDeltaIndex(input);
        for (const TDeltaEntry& entry : index.Entries)
            (void)entry.PatchName();
    } catch (const Exception&) {
    }
    try {
        VerifyDeltaIndex("zembo-deltas 1\nserial 1\n\n", input, keys);
    } catch (const Exception&) {
    }
    return 0;
}
