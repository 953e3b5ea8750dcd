#pragma once
// Hover help for a panel: when the mouse rests on one of the given controls
// for 0.5 s (0.1 s once a help was shown, until the mouse leaves the panel),
// a small window in the tool-tip colours shows the control's help text 8
// pixels below it, for 8 s or until the mouse moves off. Driven by two timer
// controls on a help panel of its own ("Help Poll Timer" every 0.5 or 0.1 s,
// "Help Timer" after 8 s); everything runs on the user-interface thread.

struct ControlHelpObject;

// Creates the help object of owner for count entries: control ids (a
// negative id is skipped) and their texts (an empty or null text shows
// nothing). On success both arrays (malloc'd, each text too) become the
// object's and are freed with it; on failure they stay the caller's. With
// top_level set the help is a window of its own, else a child of the owner.
// 0 (*help null for owner 0), or a negative platform error.
int ControlHelp_New(int owner, int *ids, int count, char **texts, ControlHelpObject **help, int top_level);
// Discards the help panel and frees the object with its arrays.
void ControlHelp_Discard(ControlHelpObject *help);
// 1 while the help window is shown (0 for null).
int ControlHelp_Active(ControlHelpObject *help);
// A disabled object goes on polling but shows nothing.
void ControlHelp_Enable(ControlHelpObject *help, int on);

struct PanelRect {
  int top, left, height, width;
};
// The outer rectangle of a panel with its frame and, when visible, its title
// bar (the top not below 0). The platform result.
int GetPanelBoundingRect(int panel, PanelRect *rect);
