// The entry of one fuzz target, linked with the mutation driver (driver.cpp).
// The signature is libFuzzer's, so a compiler that has libFuzzer can drive
// the same entries. An entry runs the parser on the input and catches the
// program's own errors (a refusal of bad input is the expected outcome);
// anything else, and every fault the sanitizers see, ends the process.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional: runs once before the first input, in the scratch folder that is
// the working folder for the whole run.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

inline QByteArray FuzzBytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The input as text: the seeds are UTF-8, and a broken sequence reads as
// U+FFFD, which the parsers must take like any other character.
inline QString FuzzText(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Writes the input to a file of the scratch folder, for the readers that take
// a file name. A failure here is the driver's, not the reader's: it ends the run.
inline void WriteScratchFile(const QString& name, const std::uint8_t* data, std::size_t size)
{
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(FuzzBytes(data, size)) != qint64(size))
        throw std::runtime_error("cannot write the scratch file " + name.toStdString());
}
