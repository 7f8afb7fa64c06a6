// The keys: each one only posts a request into the registry (or moves the selection);
// the board threads and the main loop serve the requests on their own turns.
#include <curses.h>

#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "console/gui_terminal.h"
#include "console/varn_gui.h"

namespace {

constexpr int kKeyWaitMs = 1000;

// The selected cell's FPGA, or false below the grid and on an empty cell.
bool selectedDevice(int* b, int* d) {
  if (guiSelectedRow < 0 || guiSelectedRow >= guiMaxRow || guiSelectedRow >= GUI_MAX_ROWS) return false;
  if (guiSelectedCol < 0 || guiSelectedCol >= guiMaxCol || guiSelectedCol >= GUI_MAX_COLS) return false;
  *b = guiBoard[guiSelectedRow][guiSelectedCol];
  *d = guiDevice[guiSelectedRow][guiSelectedCol];
  return *b >= 0 && *d >= 0;
}

void countStep(std::atomic<uint8_t> (&table)[MAX_BOARDS][MAX_DEVICES]) {
  int b, d;
  if (selectedDevice(&b, &d)) regCountRequest(table[b][d]);
}

void afterVerticalMove() {
  if (guiSelectedRow == guiMaxRow) {
    guiSelectedCol = 0;
  } else if (guiSelectedCol > guiMaxCol - 1) {
    guiSelectedCol = guiMaxCol - 1;
  }
}

void actOn(int key) {
  int b, d;
  switch (key) {
    case 'q':
    case 'Q':
      guiQuit();
    case 'r':
    case 'R':
      if (selectedDevice(&b, &d)) regStore(deviceBitstreamLoadReq[b][d], 1);
      break;
    case 'V':
      countStep(deviceVCCINTIncReq);
      break;
    case 'v':
      countStep(deviceVCCINTDecReq);
      break;
    case 'Y':
      countStep(deviceVCCBRAMIncReq);
      break;
    case 'y':
      countStep(deviceVCCBRAMDecReq);
      break;
    case 'W':
      countStep(deviceVCCHBMIncReq);
      break;
    case 'w':
      countStep(deviceVCCHBMDecReq);
      break;
    case 'c':
      guiLogLines = guiLogLines == 10 ? 1 : 10;
      break;
    case KEY_DOWN:
      if (guiSelectedRow < guiMaxRow) ++guiSelectedRow;
      afterVerticalMove();
      break;
    case KEY_UP:
      if (guiSelectedRow > 0) --guiSelectedRow;
      afterVerticalMove();
      break;
    case KEY_LEFT:
      if (guiSelectedRow != guiMaxRow && guiSelectedCol > 0) --guiSelectedCol;
      break;
    case KEY_RIGHT:
      if (guiSelectedRow != guiMaxRow && guiSelectedCol < guiMaxCol - 1) ++guiSelectedCol;
      break;
    default:
      break;  // a resize or any other key: the redraw below is all it needs
  }
}

}  // namespace

void guiLoop() {
  timeout(kKeyWaitMs);
  int key = getch();
  // Keys typed together (three presses of V, a held cursor key) are taken in one turn,
  // so that their requests reach the rail as one step and the screen is drawn once.
  timeout(0);
  while (key != ERR) {
    guiQuitIfSignalled();
    actOn(key);
    key = getch();
  }
  guiQuitIfSignalled();
  guiRender();
}
