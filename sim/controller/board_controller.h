// A board controller as the host sees it over CoE: it takes request packets and
// produces answer packets, drives the board's JTAG chain (walking the TAP itself in
// device-abstraction mode, or clocking TMS/TDI as told in raw mode), runs I2C
// transfers to the regulators of each slot and carries each FPGA's UART.
//
// Wire format (little-endian): length (header included), tag, command, flags/word,
// then the payload. Answers repeat the request's tag; 0x000A carries the data asked
// for, 0x000E a 32-bit error code (kNak* below).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "sim/controller/controller_chain.h"
#include "sim/controller/controller_power.h"
#include "sim/controller/controller_tap.h"

namespace varnsim {

constexpr int kControllerSlots = 4;
constexpr size_t kMaxHostPacket = 4096;  // largest packet the controller sends

// Codes carried by negative answers.
enum : uint32_t {
  kNakUnknownCommand = 1,
  kNakMalformed = 2,
  kNakWrongMode = 3,
  kNakNoAck = 4,  // I2C address not acknowledged
  kNakNoDevice = 5,  // device index or slot with nothing behind it
};

struct ControllerSlotConfig {
  int device = -1;            // chain device on this slot, -1 none
  bool hasRegulators = false;
  SlotPowerConfig power;
};

struct ControllerConfig {
  std::array<ControllerSlotConfig, kControllerSlots> slots;
  uint32_t uartBufferBytes = 16384;  // per slot, host -> FPGA
  // Reported instead of the chain's own IDCODEs when not empty (a controller whose
  // firmware knows more devices than the host can take).
  std::vector<uint32_t> idcodeOverride;
  // The greeting 0x0010: tag 3 is the host's keepalive, any other tag its hello after
  // connecting. Controllers answer the keepalive with an empty answer; some answer the
  // hello the same way, and the server can hold that answer back (helloAnswerDelayMs),
  // with every later answer queued behind it.
  bool answerKeepalive = true;
  bool answerHello = false;
  uint32_t helloAnswerDelayMs = 0;
};

struct SlotUartState {
  uint8_t mode = 0;          // set by 0x1201
  uint32_t baud = 0;         // set by 0x1202
  uint64_t toFpga = 0;       // bytes handed to the FPGA
  uint64_t toHost = 0;       // bytes sent to the host
  uint64_t dropped = 0;      // host bytes that did not fit the buffer
  uint64_t overflowReports = 0;
};

class BoardController {
 public:
  BoardController(ControllerChain& chain, const ControllerConfig& cfg);

  // One request from the host; the answer packets (none for the keepalive) are
  // appended to out.
  void handle(uint16_t tag, uint16_t command, uint16_t flags, const uint8_t* payload, size_t len,
              std::vector<uint8_t>* out);
  // Simulated time passes: the UART bytes move at their baud rate and the FPGAs'
  // output goes out as unsolicited 0x1205 packets (only with a host to send it to).
  void advance(uint64_t ns, bool hostConnected, std::vector<uint8_t>* out);

  // Inspection for tests and the tool.
  uint8_t jtagMode() const { return mode_; }
  uint32_t jtagClockHz() const { return clockHz_; }
  const std::vector<uint8_t>& hostIrLengths() const { return hostIr_; }
  const SlotUartState& uartState(int slot) const { return uart_[slot].state; }
  SlotPower* slotPower(int slot) { return power_[slot].get(); }
  uint64_t requests(uint16_t command) const;
  uint64_t naks() const { return naks_; }
  const TapMaster& tap() const { return tap_; }

  static void appendPacket(std::vector<uint8_t>* out, uint16_t tag, uint16_t command, uint16_t word,
                           const uint8_t* payload, size_t len);

 private:
  struct SlotUart {
    SlotUartState state;
    std::deque<uint8_t> toFpga;  // waiting for the UART line
    double credit = 0;           // bytes the line may carry now
  };

  void answer(std::vector<uint8_t>* out, uint16_t tag, const std::vector<uint8_t>& data = {});
  void nak(std::vector<uint8_t>* out, uint16_t tag, uint32_t code);
  size_t chainDevices() const;
  uint32_t irLengthOf(size_t device) const;
  void endDrShift();

  void status(uint16_t tag, std::vector<uint8_t>* out);
  void idcodes(uint16_t tag, std::vector<uint8_t>* out);
  void deviceShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out);
  void rawShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out);
  void idleOrTdiShift(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out);
  void i2c(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out);
  void uartData(uint16_t tag, const uint8_t* p, size_t len, std::vector<uint8_t>* out);
  int slotOfBusByte(uint8_t bus) const;

  ControllerChain& chain_;
  ControllerConfig cfg_;
  TapMaster tap_;
  uint8_t mode_ = 0;
  uint32_t clockHz_ = 0;
  std::vector<uint8_t> hostIr_;
  int drShiftDevice_ = -1;  // device whose data register is being shifted across requests
  std::array<std::unique_ptr<SlotPower>, kControllerSlots> power_;
  std::array<SlotUart, kControllerSlots> uart_;
  std::map<uint16_t, uint64_t> requests_;
  uint64_t naks_ = 0;
};

}  // namespace varnsim
