// What the two count-downs (inactivity prompt and panel event warning) share: the length of their
// count-down from the settings store, the five beeps that announce them, and their tick.
#pragma once

#include <QString>

#include <functional>

class QObject;

namespace supervision {

// The count-down length in whole seconds, from the "Communications" section of the store. A missing
// value writes 30 back and gives 30; a value that is not a whole number of seconds (0 or more)
// gives 30 and is reported, the store keeping it for the operator to mend.
int countdownSeconds(const QString &key, const QString &module);

// One system beep (through the windows' beep when they are installed; silent without them).
void beep();

// Five beeps, each written to the diagnostic log as "Beep" and followed by a pause of 475 ms, run
// on the event loop (the session's timers keep running). Stops early when `owner` is gone or
// `wanted` turns false; returns whether the owner is still wanted.
bool announce(QObject *owner, const std::function<bool()> &wanted);

// The fixed tick of the count-down timers, 100 ms of protocol time.
int tickMs();

} // namespace supervision
