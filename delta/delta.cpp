#include "delta/delta.h"

#include "platform/files.h"

#include <QFile>
#include <zstd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The level of the maker's patches: slow to make once, small to send to every customer.
constexpr int PatchLevel = 19;
// No window beyond 1 GiB, however large the files: the customer's machine
// must not be asked for more memory than that.
constexpr int MaxWindowLog = 30;
constexpr int MinWindowLog = 10; // zstd's smallest
constexpr std::size_t OutputBlock = 1 << 20;

struct TCompressor {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct TDecompressor {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// A window that holds the whole reference and the whole output, so a
// match may reach anywhere in the old file; the same rule bounds the decoder.
int WindowLog(std::int64_t oldSize, std::int64_t newSize)
{
    const std::uint64_t span = std::uint64_t(std::max<std::int64_t>({oldSize, newSize, 1}));
    int log = MinWindowLog;
    while (log < MaxWindowLog && (std::uint64_t(1) << log) < span)
        ++log;
    return std::min(log + 1, MaxWindowLog);
}

void Check(std::size_t code, const QString& what)
{
    if (ZSTD_isError(code))
        throw EDeltaError(what + QStringLiteral(": ") + QString::fromLatin1(ZSTD_getErrorName(code)));
}

void WriteAll(QFile& file, const char* data, std::size_t size, const QString& path)
{
    if (file.write(data, qint64(size)) != qint64(size))
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

TAsideFile& OpenAside(TAsideFile& file, const QString& path)
{
    if (const QString failed = file.Open(path); !failed.isEmpty())
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, failed));
    return file;
}

void Commit(TAsideFile& file, const QString& path)
{
    if (const QString failed = file.Commit(); !failed.isEmpty())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, failed));
}

} // namespace

std::int64_t MakePatch(const QString& oldFile, const QString& newFile, const QString& patchFile)
{
    const QByteArray older = ReadFileBytes(oldFile);
    const QByteArray newer = ReadFileBytes(newFile);
    const std::unique_ptr<ZSTD_CCtx, TCompressor> context(ZSTD_createCCtx());
    if (!context)
        throw EDeltaError(QStringLiteral("Sem memória para o compressor"));
    ZSTD_CCtx* c = context.get();
    const QString what = QStringLiteral("delta de ") + newFile + QStringLiteral(" não pôde ser feito");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, PatchLevel), what);
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), what);
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, WindowLog(older.size(), newer.size())), what);
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1), what);
    Check(ZSTD_CCtx_refPrefix(c, older.constData(), std::size_t(older.size())), what);
    QByteArray patch(qsizetype(ZSTD_compressBound(std::size_t(newer.size()))), Qt::Uninitialized);
    const std::size_t size = ZSTD_compress2(c, patch.data(), std::size_t(patch.size()), newer.constData(),
                                            std::size_t(newer.size()));
    Check(size, what);
    patch.truncate(qsizetype(size));
    WriteFileBytes(patchFile, patch);
    return std::int64_t(size);
}

std::int64_t ApplyPatch(const QString& oldFile, const QString& patchFile, const QString& outFile,
                        std::int64_t maxOutput)
{
    // Read, not mapped: a local copy another user truncated under a mapping
    // would kill the run instead of failing the patch.
    const QByteArray older = ReadFileBytes(oldFile);
    const QByteArray patch = ReadFileBytes(patchFile);
    const std::unique_ptr<ZSTD_DCtx, TDecompressor> context(ZSTD_createDCtx());
    if (!context)
        throw EDeltaError(QStringLiteral("Sem memória para o descompressor"));
    ZSTD_DCtx* d = context.get();
    const QString what = QStringLiteral("delta inválido");
    Check(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, WindowLog(older.size(), maxOutput)), what);
    Check(ZSTD_DCtx_refPrefix(d, older.constData(), std::size_t(older.size())), what);

    TAsideFile out;
    OpenAside(out, outFile);
    std::vector<char> block(OutputBlock);
    ZSTD_inBuffer in{patch.constData(), std::size_t(patch.size()), 0};
    std::int64_t written = 0;
    std::size_t pending = 1; // ZSTD_decompressStream's 0 marks the frame's end
    while (pending != 0) {
        ZSTD_outBuffer chunk{block.data(), block.size(), 0};
        const std::size_t before = in.pos;
        pending = ZSTD_decompressStream(d, &chunk, &in);
        Check(pending, what);
        written += std::int64_t(chunk.pos);
        if (written > maxOutput)
            throw EDeltaError(what + QStringLiteral(": resultado maior que %1 bytes").arg(maxOutput));
        WriteAll(out.File(), block.data(), chunk.pos, outFile);
        if (pending != 0 && chunk.pos == 0 && in.pos == before)
            throw EDeltaError(what + QStringLiteral(": incompleto"));
    }
    if (in.pos != in.size)
        throw EDeltaError(what + QStringLiteral(": bytes além do fim do delta"));
    Commit(out, outFile);
    return written;
}
