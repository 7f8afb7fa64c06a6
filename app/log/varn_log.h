// All human-readable output of the program, from every thread. Text goes to standard
// output, or into a ring of 50 lines when the console GUI is on; VARNLog also copies
// it to the -f log file. No levels, prefixes or timestamps: callers add "\n".
#pragma once

#include <mutex>

constexpr int VARN_LOG_SLOTS = 50;
constexpr int VARN_LOG_SLOT_SIZE = 1024;

extern std::mutex logMutex;
// Slot 0 is the oldest line, slot 49 the newest. Read it only while holding logMutex.
extern char gLogBuffer[VARN_LOG_SLOTS][VARN_LOG_SLOT_SIZE];

// Empties the 50 ring slots (start-up).
void VARNLogInit();

// Takes logMutex, writes to the ring or standard output and to the log file.
void VARNLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Same output, without the lock and without the log-file copy: for callers that
// already hold logMutex while printing a multi-part block. Returns 0.
int VARNLogNL(const char* format, ...) __attribute__((format(printf, 1, 2)));
