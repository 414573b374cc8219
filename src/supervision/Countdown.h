// What the two count-down windows (inactivity prompt and panel event warning) share: the length of
// their count-down from the settings store, and the five beeps that announce them.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace supervision {

// The count-down length in whole seconds, from the "Communications" section of the store. A missing
// value writes 30 back and gives 30; a value that is not a whole number of seconds (0 or more)
// gives 30 and is reported, the store keeping it for the operator to mend.
int countdownSeconds(const QString &key, const QString &module);

// Five system beeps, each written to the diagnostic log as "Beep" and followed by a pause of 475 ms,
// run on the event loop (the session's timers keep running). Stops early when `window` is gone or
// `wanted` turns false; returns whether the window is still wanted.
bool announce(QWidget *window, const std::function<bool()> &wanted);

// The fixed tick of the count-down timers, 100 ms of protocol time.
int tickMs();

// The top-level windows of the component that a warning hides while it is up (found by name so
// that this folder needs none of their classes).
QList<QWidget *> windowsToHideUnderWarning();

} // namespace supervision
