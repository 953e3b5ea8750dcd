#pragma once
// The file dialog that remembers directories (FileDir1..8 of the application's
// "\FileDialog" key), lists of recently used files per file kind bound to a
// list control ("\OpenedFiles"), and panel loading. The registry layout is in
// Util_fun_registry.h. Paths hold QV_PATH_SIZE (260) bytes.
#include "support/Util_fun_registry.h"

// 1 while FileSelectPopupWithHistory shows its dialog.
extern int FileSelectPopup_visible;
// Entries of the dialog's directory history for this process (at most 7);
// set by register_qv_app, grown by the dialog.
extern int filedir_history_count;

// The platform's FileSelectPopup (the ten arguments in its order) with the
// directory history. The default extension is the type list's first one
// (from its first '.' up to ';', a blank or the end, at most 4 characters);
// unless keep_file_spec is set it is appended to default_file_spec. A new
// name without the default extension gets it (when restrict_extension is 0
// and the button is VAL_OK_BUTTON or VAL_SAVE_BUTTON). The chosen file's
// directory becomes FileDir2; FileDir1 never changes. Returns 0 nothing
// chosen, 1 an existing file, 2 a new one, negative a failure of the dialog
// or -1 when the extension does not fit path_name.
int FileSelectPopupWithHistory(QVAppNumber app, const char *default_directory, const char *default_file_spec,
                               const char *file_type_list, const char *title, int button_label,
                               int restrict_directory, int restrict_extension, int allow_cancel,
                               int allow_make_directory, char path_name[], int keep_file_spec);

// Recent files of the kind of kind_pattern (e.g. "*.set") into the list
// control: label the path, value the item's position. A stored count outside
// 0..7 (read as a signed number) is taken as its nearer end.
void create_filehistlist(QVAppNumber app, int panel, int control, const char *kind_pattern);
// Puts path at the head of the kind's list, in the registry and in the
// control (which must hold the registry's order, as create_filehistlist
// builds it); a full list of 7 drops its oldest entry. With check set, a path
// of another extension than the kind's changes nothing. Item 0 is selected.
void update_filehistlist(QVAppNumber app, int panel, int control, const char *kind_pattern, const char *path,
                         int check);
// The same for files that pass test_if_valid_qv_settings_file with marker;
// afterwards list items whose files fail it are deleted (the registry keeps
// them). Returns the test result of path when below 1 (nothing changed),
// else the last item test (1 when every item passed).
int update_filehistlist_filtered(QVAppNumber app, int panel, int control, const char *kind_pattern,
                                 const char *path, int check, const char *marker);
// 1 when the file's first non-blank line holds marker (case ignored); 0 when
// it does not, or the file is missing or has no such line; the line reader's
// negative result for a line longer than 300 characters.
int test_if_valid_qv_settings_file(const char *path, const char *marker);

// When name (260 bytes) holds a '*': builds the list and copies its first
// item into name. 0 when name was replaced, else -1.
int InitFilenameFromList(QVAppNumber app, int panel, int control, char *name, const char *kind_pattern);
// As InitFilenameFromList; for a kind pattern with ".txt" the items failing
// the marker test are then deleted and the first one left is taken.
int InitFilenameFromListFiltered(QVAppNumber app, int panel, int control, char *name, const char *kind_pattern,
                                 const char *marker);
// When name holds a '*': the most recent readable file of the kind. 0 when
// name holds no '*' or was replaced, -1 when there is none.
int InitFilenameFromRegistry(QVAppNumber app, char *name, const char *kind_pattern);

// The platform's LoadPanel.
int LoadPanel55(int parent, const char *file, int resource_id);
// Loads the panel and, with more than one monitor, moves it right by the left
// edge of the monitor that shows the reference panel. The handle or a
// negative error.
int LoadPanelOnSameMonitor(int reference_panel, int parent, const char *file, int resource_id);

namespace qv {
// The kind name of a pattern path ("*.set" gives "SET").
std::string file_kind(const char *kind_pattern);
// Loads FileDir7 .. FileDir1 into the dialog's history and counts them; with
// a program directory, stores it as FileDir1 when no entry equals it (case
// ignored). register_qv_app does this at start-up.
void load_dir_history(QVAppNumber app, const char *program_dir);
}  // namespace qv
