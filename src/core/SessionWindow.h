// A window (or engine) of the session as SessionState keeps it: a guarded reference (null once the
// object is destroyed) to an object whose class is only declared in core.
//
// Where the class is known (its own folder and the folders above it) the reference reads and is
// set like a QPointer<T>. Below that, only the plain QObject is at hand: enough to close or release
// the object, or to ask it for an interface of the lower layer (dynamic_cast), never to call the
// class itself. The typed members are templates' members and are compiled only where they are
// used, which is where T is complete.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <cstddef>

template <typename T>
class SessionWindow
{
public:
    SessionWindow() = default;

    // Typed access: only where T is a complete class.
    SessionWindow &operator=(T *window)
    {
        m_object = window;
        return *this;
    }
    SessionWindow &operator=(std::nullptr_t)
    {
        m_object = nullptr;
        return *this;
    }
    T *data() const { return static_cast<T *>(m_object.data()); }
    operator T *() const { return data(); } // NOLINT(google-explicit-constructor): reads as a QPointer<T>
    T *operator->() const { return data(); }

    // Untyped access: anywhere.
    QObject *object() const { return m_object.data(); }
    bool isNull() const { return m_object.isNull(); }
    explicit operator bool() const { return !m_object.isNull(); }

private:
    QPointer<QObject> m_object;
};

// Closes a window known only as a QObject, as its close box would (its close() slot); an object
// without one (an engine) is left as it is.
inline void closeSessionWindow(QObject *window)
{
    if (window && window->metaObject()->indexOfSlot("close()") >= 0)
        QMetaObject::invokeMethod(window, "close", Qt::DirectConnection);
}

// Hides a window known only as a QObject (its hide() slot), when it has one.
inline void hideSessionWindow(QObject *window)
{
    if (window && window->metaObject()->indexOfSlot("hide()") >= 0)
        QMetaObject::invokeMethod(window, "hide", Qt::DirectConnection);
}
