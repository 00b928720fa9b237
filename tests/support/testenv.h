// What the tests need from their surroundings: the test services started by
// scripts/services (found through the variables it exports) and scratch folders.
#pragma once

#include "platform/errors.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <ostream>

// Test failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// The value of a variable exported by scripts/services; fails the calling
// test (by throwing) when it is missing, so a run without the services
// never passes silently.
QString ServiceEnv(const char* name);

// Where the binaries of the build are (build/bin) and the source tree;
// $ZEMBO_BIN_DIR and $ZEMBO_SOURCE_DIR override the paths of the build.
QString BinDir();
QString SourceDir();

// A fresh folder removed at the end of the test.
class TScratchDir {
public:
    TScratchDir();
    QString Path() const { return FDir.path(); }
    QString File(const QString& name) const { return FDir.filePath(name); }

private:
    QTemporaryDir FDir;
};

// Writes bytes to a file, creating folders as needed.
void WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

// The message of the error of type E that f raises, or "<no failure>".
template <class E = Exception>
QString FailureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("<no failure>");
}
