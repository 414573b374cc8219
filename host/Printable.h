// Text from outside (a settings key, a word of the command line, a file name) made safe to show on
// a terminal in one line: control characters and the invisible marks that reorder text are shown
// escaped (\x1b, \n, \u202e) instead of acting, and a very long text is cut.
#pragma once

#include <QString>

// `text` with its control characters escaped; longer than `maxChars` characters, the first
// `maxChars` and "... (N characters)". maxChars < 0: never cut.
QString printable(const QString &text, int maxChars = 64);
