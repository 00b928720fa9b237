#include "tests/support/controls.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Collect(const QObject& owner, const QString& name, QList<QObject*>& found)
{
    for (QObject* child : owner.children()) {
        const auto* widget = qobject_cast<const QWidget*>(child);
        if (widget && widget->isWindow())
            continue;
        if (child->objectName() == name)
            found << child;
        Collect(*child, name, found);
    }
}

} // namespace

QList<QObject*> ControlsNamed(const QWidget& window, const char* name)
{
    QList<QObject*> found;
    Collect(window, QLatin1String(name), found);
    return found;
}

void MissingControl(const QWidget& window, const char* name, const char* type)
{
    std::fprintf(stderr, "The window \"%s\" has no control \"%s\" of type %s.\n", qPrintable(window.objectName()),
                 name, type);
    std::fflush(stderr);
    std::abort();
}
