#pragma once
// The widgets the Qt view shows for the model, for tests of the view.
#include <QColor>
#include <QWidget>

class QLabel;

namespace platform::ui_qt {

// The window (top-level panel), child widget or tab page of a panel; null when unknown.
QWidget *panel_widget(int panel);
// Where a panel's controls lie (below its menu bar).
QWidget *panel_content(int panel);
// The widget of a control (null for timers and unknown controls) and its label.
QWidget *control_widget(int panel, int control);
QLabel *label_widget(int panel, int control);

// Colours of the drawn indicators, as painted now.
QColor led_colour(int panel, int control);
QColor switch_colour(int panel, int control);

// A picture of the panel's whole window, menu bar included, into an image file.
bool save_window(int panel, const QString &path);

// The platform's key code of a Qt key event's key and modifiers.
int key_code(int qt_key, Qt::KeyboardModifiers modifiers, const QString &text);

}  // namespace platform::ui_qt
