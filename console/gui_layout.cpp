#include "console/gui_layout.h"

#include "app/registry/varn_registry.h"

namespace {
constexpr int kWideTerminal = 818;
constexpr int kMinCellWidth = 48;
}  // namespace

int guiColumnsFor(int termCols) {
  if (termCols >= kWideTerminal) return GUI_MAX_COLS;
  int cols = (termCols - 2) / kMinCellWidth;
  return cols < 1 ? 1 : cols;
}

GuiLayout guiLayoutFor(int termCols, int termLines, int logLines, int rows) {
  GuiLayout l;
  l.cols = guiColumnsFor(termCols);
  l.rows = rows < 1 ? 1 : rows;
  // One border column per cell plus the last one; one border line per row, the last
  // border and the line below the log.
  l.width = (termCols - l.cols - 1) / l.cols;
  l.height = (termLines - logLines - l.rows - 2) / l.rows;
  if (l.width < 0) l.width = 0;
  if (l.height < 0) l.height = 0;
  return l;
}

int guiPlaceDevices(int cols, int8_t board[GUI_MAX_ROWS][GUI_MAX_COLS], int8_t device[GUI_MAX_ROWS][GUI_MAX_COLS]) {
  if (cols < 1) cols = 1;
  if (cols > GUI_MAX_COLS) cols = GUI_MAX_COLS;
  for (int r = 0; r < GUI_MAX_ROWS; ++r) {
    for (int c = 0; c < GUI_MAX_COLS; ++c) board[r][c] = device[r][c] = -1;
  }
  int boards = regLoad(boardCnt);
  if (boards > MAX_BOARDS) boards = MAX_BOARDS;
  int placed = 0;
  for (int b = 0; b < boards; ++b) {
    int devices = regLoad(devCounts[b]);
    if (devices > MAX_DEVICES) devices = MAX_DEVICES;
    for (int d = 0; d < devices && placed < GUI_MAX_ROWS * cols; ++d, ++placed) {
      board[placed / cols][placed % cols] = static_cast<int8_t>(b);
      device[placed / cols][placed % cols] = static_cast<int8_t>(d);
    }
  }
  int rows = (placed + cols - 1) / cols;
  return rows < 1 ? 1 : rows;
}
