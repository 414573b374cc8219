// Every delay of the simulator goes through here, so one factor (QUARVO_TIME_SCALE) can shrink them
// all for tests and stretch them for people watching a demo.
#pragma once

namespace panelsim {

// The factor from QUARVO_TIME_SCALE (a positive number), 1.0 when unset or unreadable.
double timeScale();

// ms multiplied by the factor, rounded, never below 0 (and at least 1 when ms is positive).
int scaledMs(int ms);

} // namespace panelsim
