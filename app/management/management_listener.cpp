#include "app/management/management_listener.h"

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

// The management API is not part of this build yet: -m is accepted and its settings
// kept, and the program runs as it does without a listener. Say so, so that a script
// waiting for the port knows why nothing answers there.
int VARNManagementOpen(varn_socket* listener) {
  *listener = VARN_INVALID_SOCKET;
  VARNLog("Management API requested on port %hu, but this build has no management API; going on without it\n",
          gManagementPort);
  return 0;
}
