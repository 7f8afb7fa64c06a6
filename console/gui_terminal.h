// Starting and ending curses, and the ways out of the view.
#pragma once

// The quit key: ends curses, the USB library of the CoU boards, and the process with
// status 1 (the log file is drained and closed by the exit itself).
[[noreturn]] void guiQuit();

// When SIGINT, SIGTERM or SIGHUP arrived: gives the terminal back and ends the process
// by that signal, as it would have ended without the view.
void guiQuitIfSignalled();
