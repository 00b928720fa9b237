// The registry reader over its INI store: the input is the store, written to
// the scratch folder; every key in it is opened and every value read with
// the reader its type asks for.
#include "fuzz/fuzzentry.h"

#include "platform/errors.h"
#include "platform/ini.h"
#include "platform/registry.h"

#include <QDir>

#include <cstdlib>

namespace {

const QString StoreName = QStringLiteral("registry.ini");

void ReadValue(const TRegistry& reg, const QString& name)
{
    try {
        switch (reg.GetDataType(name)) {
        case rdString:
        case rdExpandString: reg.ReadString(name); break;
        case rdInteger: reg.ReadInteger(name); break;
        case rdBinary: reg.ReadBinaryData(name); break;
        case rdUnknown: reg.ReadString(name); break;
        }
    } catch (const Exception&) {
    }
}

void ReadKey(THKey root, const QString& keyPath, const TIniSection& section)
{
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(root, keyPath))
        return;
    for (const TIniLine& line : section.Lines)
        ReadValue(reg, line.Name);
    ReadValue(reg, QStringLiteral("ProgramFilesDir"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("ZEMBO_REGISTRY", QDir::current().absoluteFilePath(StoreName).toLocal8Bit().constData(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    WriteScratchFile(StoreName, data, size);
    QList<TIniSection> sections;
    try {
        sections = ReadIniFile(StoreName);
    } catch (const Exception&) {
        return 0;
    }
    const std::pair<const char*, THKey> roots[] = {{"HKEY_CLASSES_ROOT\\", THKey::ClassesRoot},
                                                   {"HKEY_CURRENT_USER\\", THKey::CurrentUser},
                                                   {"HKEY_LOCAL_MACHINE\\", THKey::LocalMachine},
                                                   {"HKEY_USERS\\", THKey::Users}};
    for (const TIniSection& section : sections)
        for (const auto& [prefix, root] : roots)
            if (section.Name.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
                ReadKey(root, section.Name.mid(qsizetype(std::strlen(prefix))), section);
    return 0;
}
