// What the simulated D2XX library offers tests beyond the FT_* calls: loading a board
// description, the counters of each channel (in simulated time), the state of each
// simulated FPGA, sensor values and fault injection. Exported from libvarn_ftdisim
// as plain C; link the library or dlsym the names. Every call returns 0 on success
// and -1 when the name or index is unknown (varnsim_last_error says which).
#pragma once

#include <stdint.h>

#ifdef _WIN32
#define VARNSIM_API extern "C" __declspec(dllexport)
#else
#define VARNSIM_API extern "C" __attribute__((visibility("default")))
#endif

struct VarnsimChannelCounters {
  uint64_t writes;        // FT_Write calls
  uint64_t reads;         // FT_Read calls
  uint64_t statusCalls;   // FT_GetStatus calls
  uint64_t bytesWritten;
  uint64_t bytesRead;
  uint64_t usbExchanges;  // writes answered by a read: round trips over USB
  uint64_t usbPackets;    // bulk IN packets that carried data
  uint64_t usbTransfers;  // completed IN requests
  uint64_t writeTimeouts;
  uint64_t readTimeouts;
  uint64_t tcks;          // TCK cycles the MPSSE clocked
  uint64_t simTimeNs;     // the channel's board clock
  double tckHz;           // current TCK frequency
};

struct VarnsimDeviceState {
  uint32_t idcode;
  int vendor;             // 0 Xilinx, 1 Intel
  int done;               // DONE (Xilinx) / configured (Intel)
  int initComplete;       // housecleaning finished (Xilinx)
  int error;              // 0, or the first configuration error code of the stream
  uint64_t configWords;   // frame words taken (Xilinx, all SLRs) / bytes taken (Intel)
  uint64_t programs;      // JPROGRAM count (Xilinx) / SDM commands (Intel)
  uint32_t usercode;
  int designLoaded;
  uint64_t irCapture;     // what an IR capture of the device reads now
  char text[512];         // a readable summary
};

// Replaces the simulated boards. Handles opened before become invalid.
VARNSIM_API int varnsim_load_text(const char* description);
VARNSIM_API int varnsim_load_file(const char* path);
VARNSIM_API const char* varnsim_last_error(void);

// `serial` is a channel's serial as the device list shows it ("FT1234ABA").
VARNSIM_API int varnsim_channel_counters(const char* serial, VarnsimChannelCounters* out);
VARNSIM_API int varnsim_device_state(const char* board, int device, VarnsimDeviceState* out);
VARNSIM_API int varnsim_board_time_ns(const char* board, uint64_t* out);

// kind: "short_read", "read_timeout", "write_failure" (the next `count` calls), or
// "open_failure" (count 0 clears it).
VARNSIM_API int varnsim_inject_fault(const char* serial, const char* kind, int count);
// what: "temp", "vccint", "vccaux", "vccbram" (SYSMON of one SLR; Intel: slr 0).
VARNSIM_API int varnsim_set_sensor(const char* board, int device, int slr, const char* what, double value);
