// When the main loop's telemetry report and frame are due.
#pragma once

#include <cstdint>

#include "app/platform/varn_platform.h"

// Due when the whole seconds elapsed since `last` (seconds apart, one less when the
// microseconds of `now` are smaller) exceed `intervalSeconds`, compared unsigned, or
// when a management client asked for telemetry. With an interval of 1 a report thus
// comes every 2 seconds, with 0 every second; a "negative" interval (-k -1 is stored
// as 4294967295) never comes due by time. A wall clock stepped backwards gives a
// negative difference, which compares as huge: the report comes at once and the
// interval starts again, rather than pausing for as long as the clock went back.
bool VARNTelemetryDue(varn_walltime last, varn_walltime now, uint32_t intervalSeconds, bool requested);
