// The options of one simulated FPGA design, parsed from the board description's
// key=value pairs. Every key is listed here with its default; README.md explains them.
#pragma once

#include <cstdint>
#include <string>

#include "sim/common/fpga_fabric.h"

namespace varnsim {

enum class UartVersion { V1, V2 };
enum class AppKind { Echo, Console, Axi };
enum class BoardFamily { None, LR, ZK };

struct DesignConfig {
  UartVersion uart = UartVersion::V2;
  AppKind app = AppKind::Echo;
  BoardFamily family = BoardFamily::LR;

  // JTAG-UART / pin FIFOs, bytes each way.
  uint32_t fifoIn = 4096;
  uint32_t fifoOut = 4096;

  // Console application.
  std::string consoleName = "fpga";
  uint32_t consolePeriodMs = 1000;  // 0: no periodic lines

  // UART-to-AXI master.
  uint8_t irqMask = 0x0F;           // interrupt sets enabled until the host sends a mask
  uint32_t memLimitMiB = 512;       // cap on sparse RAM actually backed by host memory
  uint32_t i2cKhz = 0;              // I2C bus clock; 0 completes transfers at once
  uint32_t cdmaMBps = 400;          // CDMA throughput in simulated time
  uint32_t cdmaLatencyNs = 1000;    // set-up time of each CDMA transfer

  // Board power circuitry (rails 0 VCCINT, 1 VCCBRAM, 2 VCCHBM).
  double railVolts[3] = {0.85, 0.85, 1.20};
  double railAmps[3] = {40.0, 3.0, 8.0};  // load at the start-up voltage
  double railTempC[3] = {45.0, 40.0, 42.0};
  double inputVolts = 12.0;
  uint16_t vrmModuleId = 0x00A3;  // ZK regulator module identifier (register 0x003C)
};

// Parses options into *out. On a bad key or value returns false with a message naming
// the offending key and value in *error.
bool parseDesignOptions(const DesignOptions& options, DesignConfig* out, std::string* error);

const char* familyName(BoardFamily f);

}  // namespace varnsim
