// The background writer of the console and the -f file (see log_writer.cpp).
#pragma once

#include <cstddef>

// Starts the writer: from now on VARNLog queues its text instead of writing it, and
// the queue is written out (for up to two seconds) when the process exits. Without it
// (tools, tests) logging writes directly.
void VARNLogStartWriter();

// For varn_log.cpp, with logMutex held.
bool varnLogQueued();
void varnLogQueue(const char* text, size_t len, bool console, bool file);
