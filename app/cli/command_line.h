// Turns the command line into the process-wide settings (app/settings) and tells the
// board scan what to open. Runs once on the main thread before any other thread.
#pragma once

#include <cstdint>

// The FTDI scan's target (scanDevices): an FTDI JTAG index (0 or more) or one of these.
constexpr int VARN_SCAN_ALL = -1;
constexpr int VARN_SCAN_LIST_ONLY = -2;
constexpr int VARN_SCAN_FILTER = -3;

// The option letters, upper and lower case alike; a colon marks an argument.
constexpr const char* VARN_OPTION_STRING =
    "uUdDtTlLc:C:aAs:S:b:B:mMn:N:o:O:p:P:v:V:w:W:y:Y:qQgGxXj:J:f:F:r:R:k:K:";

// Base-10 conversion of a numeric argument, stopping at the first character that is
// not a digit (leading blanks and a sign are taken, as atoi does); a non-number is 0.
// Out-of-range text saturates instead of overflowing.
long long VARNParseDecimal(const char* text);

// Parses every option with getopt into the settings. An unknown letter or a missing
// argument logs "Error - invalid parameter -%c\n" and parsing goes on. `-f` opens the
// log copy right away, so every later message reaches it. Restarts getopt itself, so
// it may be called again on another command line. Returns how many options were
// refused.
int VARNParseOptions(int argc, char* argv[]);

// Logs which kinds of boards the settings enable.
void VARNAnnounceModes();

// Chooses the FTDI scan target from the settings and logs the choice.
int VARNChooseScanTarget();
