#include "app/management/management_listener.h"

#include "app/log/varn_log.h"
#include "app/management/management_clients.h"
#include "app/settings/varn_settings.h"

int VARNManagementOpen(varn_socket* listener) {
  *listener = VARN_INVALID_SOCKET;
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) {
    varn_perror("Failed to create ctrl socket\n");
    return -1;
  }
  if (varn_set_reuseaddr(s) != 0) varn_perror("Failed to set SO_REUSEADDR on ctrl socket\n");
  if (varn_set_nodelay(s) != 0) varn_perror("Failed to set TCP_NODELAY on ctrl socket\n");
  if (varn_bind_any(s, gManagementPort) != 0) {
    if (varn_error_is_addrinuse()) VARNLog("Ctrl Address in use\n");
    varn_perror("Failed binding socket to ctrl port");
    varn_close_socket(s);
    return 0;
  }
  // Monitoring hosts connect in bursts; with room for one pending connection every
  // further one in a burst waits out a dropped SYN (a second or more each).
  if (varn_listen(s, VARN_MGMT_BACKLOG) != 0) {
    varn_perror("Error listening on ctrl port\n");
    varn_close_socket(s);
    return 0;
  }
  *listener = s;
  return 0;
}
