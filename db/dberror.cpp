#include "db/dberror.h"

QStringList EDBEngineError::Unique(const QStringList& texts)
{
    QStringList unique;
    for (const QString& t : texts)
        if (!t.isEmpty() && !unique.contains(t))
            unique.append(t);
    return unique;
}

EDBEngineError::EDBEngineError(const QStringList& texts)
    : EDatabaseError(Unique(texts).join(u'\n')), FErrors(Unique(texts))
{
}
