#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

QString ServiceEnv(const char* name)
{
    const QByteArray value = qgetenv(name);
    if (value.isEmpty())
        throw std::runtime_error(std::string("test service variable ") + name
                                 + " is not set: run the tests through scripts/test, or start the services with "
                                   "scripts/services start and source build/services/env.sh");
    return QString::fromLocal8Bit(value);
}

QString BinDir()
{
    const QByteArray v = qgetenv("ZEMBO_BIN_DIR");
    return v.isEmpty() ? QStringLiteral(ZEMBO_DEFAULT_BIN_DIR) : QString::fromLocal8Bit(v);
}

QString SourceDir()
{
    const QByteArray v = qgetenv("ZEMBO_SOURCE_DIR");
    return v.isEmpty() ? QStringLiteral(ZEMBO_DEFAULT_SOURCE_DIR) : QString::fromLocal8Bit(v);
}

TScratchDir::TScratchDir()
{
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a scratch folder");
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}
