// The two frames of the management API, built whole from the registry tables: the
// device list ("VNDL") and the telemetry ("VNTE"). Integers and doubles in host byte
// order; one count byte per board, one record per device, each record led by its own
// length byte.
#pragma once

#include <cstddef>
#include <cstdint>

// A record length is one byte: the reported name is cut to this many bytes so that a
// device-list record (45 bytes besides the name) never exceeds 255.
constexpr size_t VARN_MGMT_NAME_MAX = 210;
// Room for the largest frames: 64 boards of 4 devices, a 210-byte name or 4 SLRs.
constexpr size_t VARN_MGMT_FRAME_MAX = 5 + 64 * (1 + 4 * (45 + VARN_MGMT_NAME_MAX));

// Both return the frame's length, or 0 when `capacity` is too small.
size_t VARNMgmtBuildDeviceList(uint8_t* out, size_t capacity, const char* reportedBitstream);
size_t VARNMgmtBuildTelemetry(uint8_t* out, size_t capacity);
