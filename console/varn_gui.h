// The full-screen console view (-g): one cell per FPGA with its identity, load state,
// traffic, temperatures and rails, the newest log lines below, and keys that post
// reload and 10 mV step requests into the registry for the board threads and the main
// loop to serve. Everything here runs on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int GUI_MAX_ROWS = 16;
constexpr int GUI_MAX_COLS = 16;

// The board and device shown in grid row r, column c; -1 for an empty cell. Rebuilt
// at every redraw.
extern int8_t guiBoard[GUI_MAX_ROWS][GUI_MAX_COLS];
extern int8_t guiDevice[GUI_MAX_ROWS][GUI_MAX_COLS];
// The selected cell; a row equal to guiMaxRow is the position below the grid where no
// cell is selected.
extern int guiSelectedRow;
extern int guiSelectedCol;
// Row and column counts of the last redraw.
extern int guiMaxRow;
extern int guiMaxCol;

// Starts curses on this process's terminal and draws once. 0, or -1 with the reason in
// `why` when there is no usable terminal (standard input or output not a terminal, TERM
// unset or unknown); curses is then not started and nothing was written.
int guiInit(char* why, size_t whySize);

// One main-loop turn: waits up to a second for a key, acts on it and on any keys typed
// with it, and redraws. The quit key (and SIGINT, SIGTERM, SIGHUP) end the process.
void guiLoop();

// Redraws the whole screen at the terminal's current size.
void guiRender();

// Ends curses and gives the terminal back as it was. Safe to call more than once.
void guiTeardown();
