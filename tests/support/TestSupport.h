// Helpers shared by the test programs.
#pragma once

#include <QString>
#include <Qt>
#include <functional>

class QWidget;

namespace testsupport {

// Creates a private temporary folder for this test process and points QUARVO_SETTINGS_DIR and
// QUARVO_LOG_DIR at sub-folders of it. Called once by the test main before anything else runs.
void preparePrivateFolders();
void removePrivateFolders();

// The private root created by preparePrivateFolders().
QString privateRoot();

// Points the settings store at a new, empty folder (and returns it); for tests that need a store
// in a known state.
QString freshSettingsDir();

// Points the log folder at a new, empty folder (and returns it).
QString freshLogDir();

// Runs the event loop until the predicate holds or the time runs out; returns the predicate's value.
bool waitFor(const std::function<bool()> &predicate, int timeoutMs = 5000);

// The folder the screenshot tests write to (made when missing), or empty unless QUARVO_SCREENSHOTS
// is set: screenshots are refreshed on request only.
QString screenshotFolder();

// Gives `widget` the keyboard focus of its window and presses `key` (Return by default) there, as
// the operator's keyboard would: the key goes to the focus widget and on up to the window.
void pressKeyOn(QWidget *widget, Qt::Key key = Qt::Key_Return);

// Reads a whole file as bytes (empty when missing).
QByteArray readFile(const QString &path);

} // namespace testsupport
