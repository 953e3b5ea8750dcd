#pragma once
// Error reporting: every error or warning that reaches the operator goes
// through error(). The identifier is looked up in the error-text file, which
// gives its severity (E error, W warning, F fatal) and printf format; the
// report is shown in a message box and/or appended to the error-output file.
// A fatal report, an unknown identifier or a missing error-text file end the
// program with exit code 2 after the application's shutdown().
//
// Error-text file, one entry per line (lines of at most 511 characters):
//   KEY <blanks or tabs> SEVERITY ... "printf format"
// A line whose first character is not a letter is ignored.

// Set by the application before the first report.
extern char *error_dat;      // path of the error-text file
extern char *error_out;      // path of the error-output file
extern int errmsg_to_screen;  // nonzero: show each report in a message box
extern int errmsg_to_file;    // nonzero: append each report to error_out

// First write error latched by the file object; 0 = none.
extern int GenWrFileErr;
extern char GenWrFileErrStr[256];

// C++ linkage on purpose: the C library has an error() of its own.
// Returns the button pressed (1 Cancel, 2 Continue) when the report was shown,
// else 0. Does not return on a fatal report.
int error(const char *id, ...);

// Looks id up in error_dat. format and message hold 512 bytes each. Returns
// the severity letter with the full printf format in format; '0' when the
// identifier or the file is missing, with the complete text in message.
char search_error_id(const char *id, char *format, char *message);

// 1 when line starts with id followed by a blank; *pos = index of that blank.
int is_error_id(const char *id, const char *line, int *pos);

// Builds "S ID text" (S the severity) into format (512 bytes) from the entry
// line; pos is the index of the blank behind the key. Returns the severity.
char read_format(const char *id, char *format, const char *line, int pos);

// Message box for a report; returns the button pressed.
int output_error(const char *message, char severity);

// Appends a report to error_out. 1 written (or the failure shown and
// confirmed), 0 when the report must become fatal.
int output_error_to_file(const char *message, char severity);

// Current local time as ctime() gives it: 24 characters and a newline.
char *time_stamp(void);

// Shows and logs a ready message whatever the flags; returns the log result.
// Severity 'F' or '0' ends the program like error().
int error_str(const char *message, char severity);

void Clear_GenWrFileErr(void);
// Shows the latched write error, if any, clears it and returns its code.
int Check_GenWrFileErr(void);
// Shows the C library's last error (errno), if any, and returns it.
int Check_WriteFileErr(void);
