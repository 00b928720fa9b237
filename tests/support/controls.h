// How the tests, the screenshots, the demo's operator and the window
// benchmark reach a window's controls: by the objectName each window's
// constructor gives them ("Button1", "lblstatus", "TreeView3", ...). The
// controls stay the window's own; a renamed or missing one shows here first.
#pragma once

#include <QList>
#include <QObject>
#include <QWidget>
#include <typeinfo>

// The window's own objects of that name, depth first, not those of a window
// it owns (a notice, a message box): those are that window's controls.
QList<QObject*> ControlsNamed(const QWidget& window, const char* name);

// Ends the program, naming the window, the control and its type: a test must
// never go on with a control it did not find.
[[noreturn]] void MissingControl(const QWidget& window, const char* name, const char* type);

// The control of that name and type, or nullptr, also without a window: for
// whoever waits for a window and its controls to appear.
template <class T>
T* FindControl(const QWidget* window, const char* name)
{
    if (!window)
        return nullptr;
    for (QObject* object : ControlsNamed(*window, name))
        if (auto* control = dynamic_cast<T*>(object))
            return control;
    return nullptr;
}

// The control of that name and type; its absence fails the caller at once.
template <class T>
T* Control(const QWidget& window, const char* name)
{
    if (T* control = FindControl<T>(&window, name))
        return control;
    MissingControl(window, name, typeid(T).name());
}
