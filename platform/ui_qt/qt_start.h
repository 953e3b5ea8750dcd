#pragma once
// Starting the Qt 6 view of the user-interface library. No Qt types here, so
// the program can choose its view without including Qt.
namespace platform::ui_qt {

// Creates the application object (unless one exists) and shows every panel,
// popup and menu with Qt Widgets from now on. Returns false, leaving the
// library headless, when QV_UI=headless asks for no view (unless
// ignore_qv_ui) or there is no display to show it on.
bool start(int &argc, char **argv, bool ignore_qv_ui = false);
// Back to headless; the application object goes when start made it.
void stop();
bool started();

}  // namespace platform::ui_qt
