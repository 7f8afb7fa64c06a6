#include "app/management/management_listener.h"

// The management API is not part of this build yet: -m is accepted and its settings
// kept, and the program runs as it does without a listener.
int VARNManagementOpen(varn_socket* listener) {
  *listener = VARN_INVALID_SOCKET;
  return 0;
}
