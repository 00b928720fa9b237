// Binary patches: made from one build to the next and applied back with the
// real libzstd on real files; every damaged or oversized patch refused with
// nothing left behind.
#include "delta/delta.h"

#include "platform/files.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// A "build": bytes that do not compress, the same for the same seed.
QByteArray Build(quint32 seed, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// The next build of it: a few stretches rewritten, one inserted, one gone.
QByteArray Rebuild(QByteArray bytes, quint32 seed)
{
    for (qsizetype at = 4096; at + 64 < bytes.size(); at += bytes.size() / 7)
        bytes.replace(at, 64, Build(seed + quint32(at), 64));
    bytes.insert(bytes.size() / 3, Build(seed, 500));
    bytes.remove(bytes.size() / 2, 300);
    return bytes;
}

struct TPatchFiles {
    TScratchDir Dir;
    QString Old = Dir.File("old.dll"), New = Dir.File("new.dll"), Patch = Dir.File("patch.zst"), Out = Dir.File("out.dll");
    TPatchFiles(const QByteArray& older, const QByteArray& newer)
    {
        WriteBytes(Old, older);
        WriteBytes(New, newer);
    }
};

} // namespace

TEST(Delta, APatchRebuildsTheNextBuildAndCostsLittle)
{
    const QByteArray older = Build(1, 2 * 1024 * 1024);
    const QByteArray newer = Rebuild(older, 2);
    TPatchFiles f(older, newer);
    const std::int64_t size = MakePatch(f.Old, f.New, f.Patch);
    EXPECT_EQ(size, QFileInfo(f.Patch).size());
    EXPECT_LT(size, newer.size() / 50) << size; // long-distance matches reach the whole old file
    EXPECT_EQ(ApplyPatch(f.Old, f.Patch, f.Out, newer.size()), newer.size());
    EXPECT_TRUE(ReadBytes(f.Out) == newer);

    // An empty old file and an empty new one are files too.
    WriteBytes(f.Old, "");
    MakePatch(f.Old, f.New, f.Patch);
    ApplyPatch(f.Old, f.Patch, f.Out, newer.size());
    EXPECT_TRUE(ReadBytes(f.Out) == newer);
    WriteBytes(f.New, "");
    MakePatch(f.Old, f.New, f.Patch);
    EXPECT_EQ(ApplyPatch(f.Old, f.Patch, f.Out, 0), 0);
    EXPECT_TRUE(QFileInfo(f.Out).isFile());
}

// Whatever is wrong with a patch, ApplyPatch raises EDeltaError and leaves
// no output file (and an earlier one as it was).
TEST(Delta, DamagedWrongOrOversizedPatchesAreRefused)
{
    const QByteArray older = Build(3, 512 * 1024);
    const QByteArray newer = Rebuild(older, 4);
    TPatchFiles f(older, newer);
    MakePatch(f.Old, f.New, f.Patch);
    const QByteArray patch = ReadBytes(f.Patch);
    WriteBytes(f.Dir.File("other.dll"), Build(9, older.size()));

    QByteArray flipped = patch;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x10);
    QByteArray checksum = patch; // the last four bytes: the frame's checksum
    checksum[checksum.size() - 1] = char(checksum[checksum.size() - 1] ^ 1);
    struct TCase {
        const char* What;
        QByteArray Patch;
        QString Old;
        std::int64_t Max;
    } cases[] = {
        {"flipped", flipped, f.Old, newer.size()},
        {"checksum", checksum, f.Old, newer.size()},
        {"truncated", patch.left(patch.size() - 9), f.Old, newer.size()},
        {"trailing bytes", patch + "x", f.Old, newer.size()},
        {"not zstd", "isto não é um delta", f.Old, newer.size()},
        {"empty", "", f.Old, newer.size()},
        {"longer than allowed", patch, f.Old, newer.size() - 1},
        {"another old file", patch, f.Dir.File("other.dll"), newer.size()},
    };
    for (const TCase& c : cases) {
        WriteBytes(f.Patch, c.Patch);
        WriteBytes(f.Out, "anterior");
        EXPECT_NE(FailureOf<EDeltaError>([&] { ApplyPatch(c.Old, f.Patch, f.Out, c.Max); }), "<no failure>") << c.What;
        EXPECT_EQ(ReadBytes(f.Out), "anterior") << c.What;
        EXPECT_EQ(QDir(f.Dir.Path()).entryList(QDir::Files).size(), 5) << c.What; // nothing left aside
    }
}

// The decoder's window is held to what the old file and the allowed output
// need: a patch that asks for more memory is refused before it is decoded.
TEST(Delta, TheDecodersWindowIsLimited)
{
    const QByteArray older = Build(5, 4 * 1024 * 1024);
    TPatchFiles f(older, Rebuild(older, 6));
    MakePatch(f.Old, f.New, f.Patch);
    WriteBytes(f.Old, "pequeno");
    const QString failure = FailureOf<EDeltaError>([&] { ApplyPatch(f.Old, f.Patch, f.Out, 1000); });
    EXPECT_TRUE(failure.contains("memory") || failure.contains("Frame")) << failure.toStdString();
    EXPECT_FALSE(QFileInfo::exists(f.Out));
}
