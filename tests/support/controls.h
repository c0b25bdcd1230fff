#pragma once

#include <QObject>
#include <QtGlobal>

namespace TestSupport {

// A window's control by its design name, so tests need none of the window's private parts.
// A missing control is a broken test set-up, not a result: it stops the suite naming it.
template <typename T> T *Control(const QObject *window, const char *name)
{
    T *control = window->findChild<T *>(QLatin1String(name));
    if (!control)
        qFatal("No control named %s of type %s", name, T::staticMetaObject.className());
    return control;
}

} // namespace TestSupport
