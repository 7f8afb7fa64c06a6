// Lists every FTDI device on this host and, for each FT232H/FT2232H/FT4232H, scans its
// JTAG chain and prints the devices with their DNA, SYSMON readings and carrier GPIO.
// Run against simulated boards with the simulator's D2XX library preloaded.
#include <cstdio>
#include <cstring>

#include "app/log/varn_log.h"
#include "jtag/varn_jtag.h"

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("usage: %s\n  Probes every FTDI JTAG channel on this host and prints what the chains hold.\n", argv[0]);
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "%s: unexpected argument '%s' (try --help)\n", argv[0], argv[1]);
    return 2;
  }
  VARNLogInit();
  return enumUSB();
}
