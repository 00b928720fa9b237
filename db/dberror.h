// Errors of the alias registry and of the central catalogue connection.
#pragma once

#include "platform/errors.h"

#include <QStringList>

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// The engine's texts, one per line, duplicates dropped.
class EDBEngineError : public EDatabaseError {
public:
    explicit EDBEngineError(const QStringList& texts);
    const QStringList& Errors() const { return FErrors; }

private:
    static QStringList Unique(const QStringList& texts);
    QStringList FErrors;
};
