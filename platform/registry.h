// Read-only access to the registry, an INI file: $ZEMBO_REGISTRY, else
// /etc/zemboupdate/registry.ini. A section is a key path
// under its root, "[HKEY_LOCAL_MACHINE\Software\...]", and a value line is
// "Name=value" (a string), "Name=expand:value", "Name=dword:N" (decimal, or
// hexadecimal with 0x), "Name=hex:41,42,.." (binary) or "Name=TYPE:..." of any
// other type (multi_sz, qword, none, link).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

enum class THKey { ClassesRoot, CurrentUser, LocalMachine, Users };

QString RegistryFileName();

class TRegistry {
public:
    // False when the key does not exist or the store cannot be read;
    // LastError() then holds the system error code.
    bool OpenKeyReadOnly(THKey root, const QString& keyPath);
    void CloseKey();
    int LastError() const { return FLastError; }

    bool ValueExists(const QString& name) const;
    TRegDataType GetDataType(const QString& name) const; // rdUnknown when missing
    QString ReadString(const QString& name) const;
    qint32 ReadInteger(const QString& name) const;
    QByteArray ReadBinaryData(const QString& name) const;

private:
    struct TValue {
        QString Name;
        TRegDataType Type = rdUnknown;
        QString Text;
        QByteArray Bytes;
        qint32 Integer = 0;
    };
    const TValue* Find(const QString& name) const;

    QList<TValue> FValues;
    bool FOpen = false;
    int FLastError = 0;
};
