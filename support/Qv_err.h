#pragma once
// Error reporting: the declarations the file objects use.

int error(const char *id, ...);
extern char *error_dat;
extern char *error_out;
extern int errmsg_to_screen;
extern int errmsg_to_file;
extern int GenWrFileErr;
extern char GenWrFileErrStr[];
