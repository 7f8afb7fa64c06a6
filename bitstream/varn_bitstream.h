// Bitstream programming of the FPGAs on a board connection: choosing and checking a
// file for a device, loading it (Xilinx .bit over JTAG, Intel .rbf through the Secure
// Device Manager), clearing a Xilinx device and making it reload from its flash.
// All run on the board worker thread that owns the VARNJtag handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jtag/varn_jtag.h"

// Result codes shared by validation and loading.
enum : int {
  VARN_BIT_OK = 0,
  VARN_BIT_UNKNOWN_DEVICE = 2,  // the device has no device-table row
  VARN_BIT_WRONG_VENDOR = 3,    // the operation does not apply to an Intel device
  VARN_BIT_BAD_INDEX = 4,       // device index not below the device count; or no identification in a .bit
  VARN_BIT_STATUS_FAILED = 5,   // the CoE status request or a data shift failed
  VARN_BIT_MISREAD = 6,         // the file gave fewer bytes than it had when the load began
  VARN_BIT_MISMATCH = 7,        // wrong extension or part; start refused; configuration not done
  VARN_BIT_OPEN_FAILED = 8,     // the file cannot be opened for reading
  VARN_BIT_TIMEOUT = 9,         // houseclean or the device did not get ready in time
};

// Whether the file at path suits the device: 0, 2, 4, 7 or 8. Reads at most the first
// 1024 bytes of a .bit file and never opens an .rbf.
int VARNJtagBitstreamIsValidForDevice(VARNJtag* jtag, uint32_t device, const char* path);

// Picks the device's file from a comma-separated list: the first entry that validates
// with 0, else the whole list text (then the caller's own check reports why it does not
// suit). Without a comma the whole text is the choice. Writes a NUL-terminated path
// (cut to capacity) and returns the validation result of the choice.
int VARNBitstreamChooseFile(VARNJtag* jtag, uint32_t device, const char* list, char* chosen, size_t capacity);

// Loads path into the device (Xilinx or Intel). skipHouseclean 0 clears the Xilinx
// device first. progress (may be null) goes from 0 towards 100 while the load runs and
// reaches 100 only when the load has succeeded.
int VARNJtagLoadBitstream(VARNJtag* jtag, uint32_t device, const char* path, int skipHouseclean,
                          VARNProgressCell* progress);
// Houseclean on its own: 0, 3, 4 or 9.
int _VARNJtagPreload(VARNJtag* jtag, uint32_t device);
// Clears the configuration and starts the device up empty: 0, 3, 4 or 9.
int VARNJtagClearBitstream(VARNJtag* jtag, uint32_t device);
// Makes the device reload its configuration from flash (not awaited): 0, 3 or 4.
int VARNJtagBootFromFlash(VARNJtag* jtag, uint32_t device);
