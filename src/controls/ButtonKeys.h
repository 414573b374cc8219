// Enter and Return in a window, as the desktop has them: the key presses the command button (push
// or picture button) that has the focus; with the focus on anything else (a field, a check box, a
// list), it presses the window's default button. A widget that uses Enter itself keeps it (it accepts the key before the
// window sees it). Escape is left to the window (a dialog's reject(), its Cancel).
//
// Qt gives a dialog this behaviour only through autoDefault buttons, which also draw a wider frame
// and change the window's geometry; the windows here keep autoDefault off and install this instead,
// and plain (non-dialog) windows get the same keys.
#pragma once

#include <QObject>

class QAbstractButton;
class QKeyEvent;
class QWidget;

class ButtonKeys : public QObject
{
    Q_OBJECT
public:
    // Gives `window` the keys above; the filter is a child of the window and goes with it.
    // Installing twice on the same window does nothing more.
    static void install(QWidget *window);

    // The button a plain Enter (or keypad Enter) in `window` presses, or none: the focused command
    // button of the window, else its visible default push button.
    static QAbstractButton *target(QWidget *window);

    // True for a key press that this filter treats as Enter.
    static bool isEnter(const QKeyEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit ButtonKeys(QWidget *window);
    QWidget *m_window;
};
