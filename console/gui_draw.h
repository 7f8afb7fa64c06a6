// Small drawing helpers shared by the grid, the cells and the log area.
#pragma once

#include <curses.h>

// Colour pairs, foreground on black.
enum GuiPair : short {
  GUI_PLAIN = 0,
  GUI_GREEN = 1,
  GUI_YELLOW = 2,
  GUI_RED = 3,
  GUI_BLUE = 4,
  GUI_MAGENTA = 5,
  GUI_CYAN = 6,
  GUI_WHITE = 7,
};

// The attribute for a pair: the colour pair where the terminal has colours, plain
// otherwise (GUI_BLUE, the selection, is bold there so that it still shows).
attr_t guiAttr(GuiPair pair);

// Writes `text` from (y, x) in `pair`, cut so that nothing lands on or after column
// `endX` (a cell's right border); nothing when y or x is off the screen.
void guiPut(int y, int x, const char* text, GuiPair pair, int endX);

// One cell's contents (gui_cell.cpp): the FPGA of board b, device d (b < 0: an empty
// cell) in the cell whose top-left corner is at (y, x), `width` columns and `height`
// lines inside its borders.
void guiDrawCell(int y, int x, int width, int height, int b, int d);
