// The INI reader: the input is the file, written to the scratch folder.
#include "fuzz/fuzzentry.h"

#include "platform/errors.h"
#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = QStringLiteral("input.ini");
    WriteScratchFile(path, data, size);
    try {
        const QList<TIniSection> sections = ReadIniFile(path);
        for (const TIniSection& s : sections)
            FindIniSection(sections, s.Name);
    } catch (const Exception&) {
    }
    return 0;
}
