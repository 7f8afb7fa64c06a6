// The management API's listening socket, opened at start-up when -m is given.
#pragma once

#include "app/platform/varn_platform.h"

// Opens the listener on gManagementPort into *listener. Returns 0 when the program can
// go on (with or without a listener: *listener is VARN_INVALID_SOCKET when there is
// none) and -1 when the socket itself cannot be created, which ends main.
int VARNManagementOpen(varn_socket* listener);
