// A window of the session as SessionState keeps it: a guarded reference (null once the window is
// destroyed) to a window whose class is only declared in core.
//
// Where the class is known (its own folder and the folders above it) the reference reads and is
// set like a QPointer<T>. Below that, only the plain QWidget is at hand: enough to show, close or
// release the window, or to ask it for an interface of the lower layer (dynamic_cast), never to
// call the class itself. The typed members are templates' members and are compiled only where
// they are used, which is where T is complete.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstddef>

template <typename T>
class SessionWindow
{
public:
    SessionWindow() = default;

    // Typed access: only where T is a complete class.
    SessionWindow &operator=(T *window)
    {
        m_widget = window;
        return *this;
    }
    SessionWindow &operator=(std::nullptr_t)
    {
        m_widget = nullptr;
        return *this;
    }
    T *data() const { return static_cast<T *>(m_widget.data()); }
    operator T *() const { return data(); } // NOLINT(google-explicit-constructor): reads as a QPointer<T>
    T *operator->() const { return data(); }

    // Untyped access: anywhere.
    QWidget *widget() const { return m_widget.data(); }
    bool isNull() const { return m_widget.isNull(); }
    explicit operator bool() const { return !m_widget.isNull(); }

private:
    QPointer<QWidget> m_widget;
};
