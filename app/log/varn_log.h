// All human-readable output of the program, from every thread. Text goes to standard
// output, or into a ring of 50 lines when the console GUI is on; VARNLog also copies
// it to the -f log file. No levels, prefixes or timestamps: callers add "\n".
#pragma once

#include <mutex>

// The formats are C99's everywhere (mingw-w64 builds with its own C99 printf).
#ifdef __MINGW32__
#define VARN_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define VARN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

constexpr int VARN_LOG_SLOTS = 50;
constexpr int VARN_LOG_SLOT_SIZE = 1024;

extern std::mutex logMutex;
// Slot 0 is the oldest line, slot 49 the newest. Read it only while holding logMutex.
extern char gLogBuffer[VARN_LOG_SLOTS][VARN_LOG_SLOT_SIZE];

// Empties the 50 ring slots (start-up).
void VARNLogInit();

// Takes logMutex, writes to the ring or standard output and to the log file.
void VARNLog(const char* format, ...) VARN_PRINTF(1, 2);

// Same output, without the lock and without the log-file copy: for callers that
// already hold logMutex while printing a multi-part block. Returns 0.
int VARNLogNL(const char* format, ...) VARN_PRINTF(1, 2);
