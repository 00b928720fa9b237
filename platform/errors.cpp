#include "platform/errors.h"

QString SysErrorMessage(int code)
{
    switch (code) {
    case 0: return QStringLiteral("The operation completed successfully.");
    case osErrorFileNotFound: return QStringLiteral("The system cannot find the file specified.");
    case osErrorPathNotFound: return QStringLiteral("The system cannot find the path specified.");
    case osErrorAccessDenied: return QStringLiteral("Access is denied.");
    case osErrorBadFormat: return QStringLiteral("The data is invalid.");
    case osErrorRegistryIo: return QStringLiteral("The configuration registry key could not be read.");
    default: return QStringLiteral("System error.  Code: %1.").arg(code);
    }
}

QString ErrorText(const std::exception& error)
{
    if (const auto* e = dynamic_cast<const Exception*>(&error))
        return e->Message();
    return QString::fromUtf8(error.what());
}
