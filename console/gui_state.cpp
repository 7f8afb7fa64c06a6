#include "console/varn_gui.h"

int8_t guiBoard[GUI_MAX_ROWS][GUI_MAX_COLS];
int8_t guiDevice[GUI_MAX_ROWS][GUI_MAX_COLS];
int guiSelectedRow = 0;
int guiSelectedCol = 0;
int guiMaxRow = 1;
int guiMaxCol = 1;
