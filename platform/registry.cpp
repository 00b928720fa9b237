#include "platform/registry.h"

#include "platform/errors.h"
#include "platform/ini.h"

#include <QFileInfo>

namespace {

QString RootName(THKey root)
{
    switch (root) {
    case THKey::ClassesRoot: return QStringLiteral("HKEY_CLASSES_ROOT");
    case THKey::CurrentUser: return QStringLiteral("HKEY_CURRENT_USER");
    case THKey::LocalMachine: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case THKey::Users: return QStringLiteral("HKEY_USERS");
    }
    return {};
}

} // namespace

QString RegistryFileName()
{
    const QByteArray env = qgetenv("ZEMBO_REGISTRY");
    return env.isEmpty() ? QStringLiteral("/etc/zemboupdate/registry.ini") : QString::fromLocal8Bit(env);
}

bool TRegistry::OpenKeyReadOnly(THKey root, const QString& keyPath)
{
    CloseKey();
    QString path = keyPath;
    while (path.startsWith(u'\\'))
        path.remove(0, 1);
    const QString section = RootName(root) + u'\\' + path;
    QList<TIniSection> sections;
    try {
        sections = ReadIniFile(RegistryFileName());
    } catch (const Exception&) {
        FLastError = QFileInfo::exists(RegistryFileName()) ? osErrorAccessDenied : osErrorFileNotFound;
        return false;
    }
    const TIniSection* key = FindIniSection(sections, section);
    if (!key) {
        FLastError = osErrorFileNotFound;
        return false;
    }
    for (const TIniLine& line : key->Lines) {
        TValue v;
        v.Name = line.Name;
        const QString value = line.Value;
        const qsizetype colon = value.indexOf(u':');
        const QString prefix = colon > 0 ? value.left(colon).toLower() : QString();
        const QString body = value.mid(colon + 1);
        if (prefix == u"dword") {
            bool ok = false;
            const QString t = body.trimmed();
            const qint64 n = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLongLong(&ok, 16)
                                                                                     : t.toLongLong(&ok, 10);
            v.Type = ok ? rdInteger : rdUnknown;
            v.Integer = qint32(quint32(n));
        } else if (prefix == u"hex") {
            v.Type = rdBinary;
            for (const QString& part : body.split(u',', Qt::SkipEmptyParts))
                v.Bytes.append(char(part.trimmed().toUInt(nullptr, 16)));
        } else if (prefix == u"expand") {
            v.Type = rdExpandString;
            v.Text = body;
        } else if (prefix == u"multi_sz" || prefix == u"qword" || prefix == u"none" || prefix == u"link") {
            v.Type = rdUnknown; // a type the program does not read (multi-string, qword, ...)
        } else {
            v.Type = rdString;
            v.Text = value;
        }
        FValues.append(v);
    }
    FOpen = true;
    FLastError = 0;
    return true;
}

void TRegistry::CloseKey()
{
    FValues.clear();
    FOpen = false;
}

const TRegistry::TValue* TRegistry::Find(const QString& name) const
{
    for (const TValue& v : FValues)
        if (v.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &v;
    return nullptr;
}

bool TRegistry::ValueExists(const QString& name) const
{
    return Find(name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const QString& name) const
{
    const TValue* v = Find(name);
    return v ? v->Type : rdUnknown;
}

QString TRegistry::ReadString(const QString& name) const
{
    const TValue* v = Find(name);
    if (!v || (v->Type != rdString && v->Type != rdExpandString))
        throw EOSError(osErrorRegistryIo, SysErrorMessage(osErrorRegistryIo));
    return v->Text;
}

qint32 TRegistry::ReadInteger(const QString& name) const
{
    const TValue* v = Find(name);
    if (!v || v->Type != rdInteger)
        throw EOSError(osErrorRegistryIo, SysErrorMessage(osErrorRegistryIo));
    return v->Integer;
}

QByteArray TRegistry::ReadBinaryData(const QString& name) const
{
    const TValue* v = Find(name);
    if (!v || v->Type != rdBinary)
        throw EOSError(osErrorRegistryIo, SysErrorMessage(osErrorRegistryIo));
    return v->Bytes;
}
