#include "controls/ButtonKeys.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>

namespace {
const char *const kFilterName = "ButtonKeys";
} // namespace

ButtonKeys::ButtonKeys(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    setObjectName(QLatin1String(kFilterName));
}

void ButtonKeys::install(QWidget *window)
{
    if (!window || window->findChild<ButtonKeys *>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly))
        return;
    window->installEventFilter(new ButtonKeys(window));
}

bool ButtonKeys::isEnter(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (event->key() == Qt::Key_Return)
        return modifiers == Qt::NoModifier;
    if (event->key() == Qt::Key_Enter)
        return modifiers == Qt::NoModifier || modifiers == Qt::KeypadModifier;
    return false;
}

QAbstractButton *ButtonKeys::target(QWidget *window)
{
    if (!window)
        return nullptr;
    // The focused widget of this window (also while the window is not the active one). Check
    // boxes and radio buttons are no command buttons: Enter on them presses the default one.
    QWidget *focused = window->focusWidget();
    if (focused && (qobject_cast<QPushButton *>(focused) || qobject_cast<QToolButton *>(focused))
        && focused->window() == window && focused->isVisible())
        return static_cast<QAbstractButton *>(focused);
    // Buttons of a child window (a dialog opened from this one) belong to that window.
    const auto buttons = window->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->isDefault() && button->isVisible() && button->window() == window)
            return button;
    }
    return nullptr;
}

bool ButtonKeys::eventFilter(QObject *watched, QEvent *event)
{
    // Key presses reach the window's filter after every widget on the way up left them alone.
    if (watched != m_window || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (!isEnter(key))
        return false;
    QAbstractButton *button = target(m_window);
    if (!button)
        return false; // no button to press: the window does what it does with Enter
    // A held key repeats: one press of Enter is one click.
    if (!key->isAutoRepeat() && button->isEnabled())
        button->click();
    key->accept();
    return true;
}
