// The whole screen, redrawn from the registry and the log ring at every turn: curses
// sends only what changed.
#include <cstring>
#include <mutex>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"
#include "console/gui_draw.h"
#include "console/gui_layout.h"
#include "console/varn_gui.h"

attr_t guiAttr(GuiPair pair) {
  if (pair == GUI_PLAIN) return A_NORMAL;
  if (has_colors()) return COLOR_PAIR(pair);
  return pair == GUI_BLUE ? A_BOLD : A_NORMAL;
}

void guiPut(int y, int x, const char* text, GuiPair pair, int endX) {
  if (y < 0 || y >= LINES || x < 0 || x >= COLS) return;
  if (endX > COLS) endX = COLS;
  const int room = endX - x;
  if (room <= 0) return;
  attr_t a = guiAttr(pair);
  attron(a);
  mvaddnstr(y, x, text, room);
  attroff(a);
}

namespace {

void drawBox(int y, int x, int width, int height, attr_t a) {
  attron(a);
  for (int edge : {y, y + height + 1}) {
    mvaddch(edge, x, '+');
    for (int i = 1; i <= width; ++i) mvaddch(edge, x + i, '-');
    mvaddch(edge, x + width + 1, '+');
  }
  for (int i = 1; i <= height; ++i) {
    mvaddch(y + i, x, '|');
    mvaddch(y + i, x + width + 1, '|');
  }
  attroff(a);
}

// A resize may leave the selection outside the new grid: keep it on the nearest cell,
// or below the grid when it was there.
void clampSelection() {
  if (guiSelectedRow > guiMaxRow) guiSelectedRow = guiMaxRow;
  if (guiSelectedRow == guiMaxRow) {
    guiSelectedCol = 0;
  } else if (guiSelectedCol >= guiMaxCol) {
    guiSelectedCol = guiMaxCol - 1;
  }
}

GuiPair logLinePair(const char* text) {
  if (std::strstr(text, "MISSING") != nullptr) return GUI_YELLOW;
  if (std::strstr(text, "FAIL") != nullptr) return GUI_RED;
  if (std::strstr(text, "****") != nullptr) return GUI_GREEN;
  return GUI_PLAIN;
}

// The newest guiLogLines slots, ending one line above the bottom. A slot may hold a
// message with several lines; on screen it stays on its one line.
void drawLogArea() {
  int shown = guiLogLines;
  if (shown > VARN_LOG_SLOTS) shown = VARN_LOG_SLOTS;
  if (shown > LINES - 1) shown = LINES - 1;
  char line[VARN_LOG_SLOT_SIZE];
  for (int i = 0; i < shown; ++i) {
    {
      std::lock_guard<std::mutex> hold(logMutex);
      std::memcpy(line, gLogBuffer[VARN_LOG_SLOTS - shown + i], sizeof line);
    }
    line[sizeof line - 1] = '\0';
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    for (size_t k = 0; k < n; ++k) {
      if (static_cast<unsigned char>(line[k]) < 0x20) line[k] = ' ';
    }
    guiPut(LINES - 1 - shown + i, 0, line, logLinePair(line), COLS);
  }
}

}  // namespace

void guiRender() {
  erase();
  const int rows = guiPlaceDevices(guiColumnsFor(COLS), guiBoard, guiDevice);
  const GuiLayout l = guiLayoutFor(COLS, LINES, guiLogLines, rows);
  guiMaxCol = l.cols;
  guiMaxRow = l.rows;
  clampSelection();
  if (l.width > 0 && l.height > 0) {
    // Borders first, the selected one over its neighbours' shared edges, then the
    // contents: each title sits in its cell's top border.
    for (int r = 0; r < l.rows; ++r) {
      for (int c = 0; c < l.cols; ++c) drawBox(r * (l.height + 1), c * (l.width + 1), l.width, l.height, A_NORMAL);
    }
    if (guiSelectedRow < guiMaxRow) {
      drawBox(guiSelectedRow * (l.height + 1), guiSelectedCol * (l.width + 1), l.width, l.height, guiAttr(GUI_BLUE));
    }
    for (int r = 0; r < l.rows; ++r) {
      for (int c = 0; c < l.cols; ++c) {
        guiDrawCell(r * (l.height + 1), c * (l.width + 1), l.width, l.height, guiBoard[r][c], guiDevice[r][c]);
      }
    }
  }
  drawLogArea();
  // Written at the top left when curses started, where the grid then covers it; the
  // last line is the one the view leaves free.
  if (!has_colors()) guiPut(LINES - 1, 0, "NO COLORS SUPPORTED", GUI_PLAIN, COLS);
  refresh();
}
