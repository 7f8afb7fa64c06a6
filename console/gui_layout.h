// Where the cells go: column count and widths from the terminal's size, and which FPGA
// each cell shows. No curses here, so the arithmetic can be checked on its own.
#pragma once

#include <cstdint>

#include "console/varn_gui.h"

// The grid the screen can hold. A cell is `width` columns and `height` lines inside
// its borders; cell (r, c) has its top-left '+' at line r * (height + 1), column
// c * (width + 1). Nothing is drawn when width or height is below 1.
struct GuiLayout {
  int cols = 1;
  int rows = 1;
  int width = 0;
  int height = 0;
};

// Fills board/device row by row with the registered FPGAs (board 0's devices first),
// `cols` to a row and at most GUI_MAX_ROWS rows, -1 elsewhere; returns the rows used,
// at least 1.
int guiPlaceDevices(int cols, int8_t board[GUI_MAX_ROWS][GUI_MAX_COLS], int8_t device[GUI_MAX_ROWS][GUI_MAX_COLS]);

// Columns from the terminal width: (width - 2) / 48 of them, at least one, below 818
// columns; 16 from 818 up. Then the cell size for `rows` rows above `logLines` lines
// of log.
GuiLayout guiLayoutFor(int termCols, int termLines, int logLines, int rows);
int guiColumnsFor(int termCols);
