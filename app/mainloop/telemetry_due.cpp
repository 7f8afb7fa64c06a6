#include "app/mainloop/telemetry_due.h"

bool VARNTelemetryDue(varn_walltime last, varn_walltime now, uint32_t intervalSeconds, bool requested) {
  if (requested) return true;
  int64_t elapsed = now.sec - last.sec;
  if (now.usec < last.usec) --elapsed;
  return static_cast<uint64_t>(elapsed) > static_cast<uint64_t>(intervalSeconds);
}
