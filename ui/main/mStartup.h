#pragma once

namespace pixquill {

class fMain;

// Creates the main window (running its load handler), shows it centred on
// the screen without an owner and returns it; the caller then runs the event
// loop, which ends with the last window. The window deletes itself when it
// closes. Needs a QApplication.
fMain* StartUp();

} // namespace pixquill
