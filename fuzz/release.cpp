// The release parsers: the input read as a manifest, as a minisign signature
// of a fixed manifest, and as public key lines.
#include "fuzz/fuzzentry.h"

#include "release/release.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = FuzzBytes(data, size);
    // The key that signed the seed signature, so that the input reaches the checks.
    static const QList<TPublicKey> keys
        = ParsePublicKeys("RWSFRlG/O2BKq+EqC+WkUABvparh6Cy9Gm5YeyyLY+mt8QtIZEiiYQpq\n");
    try {
        ParseManifest(input);
    } catch (const Exception&) {
    }
    try {
        VerifyRelease("zembo-release 1\nserial 1\ndate 2026-05-01\n\n", input, keys);
    } catch (const Exception&) {
    }
    try {
        ParsePublicKeys(input);
    } catch (const Exception&) {
    }
    return 0;
}
