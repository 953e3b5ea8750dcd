#pragma once
// The library's small operating-system layer: threads, events, mutexes,
// sleeps, debug text, page arithmetic and console prompts.
#include <cstdarg>
#include <cstdint>

#include "pci/wd_records.h"

typedef void *HANDLE;
typedef void (*INT_HANDLER)(void *data);
typedef void (*EVENT_HANDLER)(WDEvent *event, void *data);
typedef void (*HANDLER_FUNC)(void *data);

// Threads: the thread record is handed out by ThreadStart and freed by ThreadWait.
WDStatus ThreadStart(HANDLE *thread, HANDLER_FUNC function, void *data);
void ThreadWait(HANDLE thread);
void ThreadStop(HANDLE thread);

// Auto-reset events, initially clear; waits take seconds (-1 forever).
WDStatus OsEventCreate(HANDLE *event);
void OsEventClose(HANDLE event);
WDStatus OsEventWait(HANDLE event, uint32_t seconds);
WDStatus OsEventSignal(HANDLE event);
WDStatus OsEventReset(HANDLE event);

// Unnamed mutexes; the lock waits forever.
WDStatus OsMutexCreate(HANDLE *mutex);
void OsMutexClose(HANDLE mutex);
WDStatus OsMutexLock(HANDLE mutex);
WDStatus OsMutexUnlock(HANDLE mutex);

// Sleeps in the driver (its own handle); -1 when the driver cannot be opened.
int SleepWrapper(uint32_t microseconds);
void PrintDbgMessage(uint32_t level, uint32_t section, const char *format, ...) __attribute__((format(printf, 3, 4)));
void vPrintDbgMessage(uint32_t level, uint32_t section, const char *format, va_list args);

// Frees what *pointer points to (memory from this library) and clears it.
void FreeDllPtr(void **pointer);
uint32_t GetPageSize(void);
uint32_t GetPageCount(const void *address, uint32_t bytes);

// 1 when the size was read, else 0 with the reason in error (256 bytes).
int UtilGetFileSize(const char *path, uint32_t *size, char *error);
WDStatus UtilGetStringFromUser(char *buffer, uint32_t size, const char *prompt, const char *default_text);
WDStatus UtilGetFileName(char *buffer, uint32_t size, const char *default_text);
void UtilClrScr(void);
