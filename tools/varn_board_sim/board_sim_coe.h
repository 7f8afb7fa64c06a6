// The CoE boards of varn_board_sim: their command-line options and their start-up.
// Each board is a JTAG chain of sim/core FPGAs (running sim/design designs) behind a
// simulated board controller listening on its own loopback address.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/controller/controller_server.h"
#include "sim/controller/core_chain.h"
#include "sim/core/device_config.h"
#include "sim/core/jtag_chain.h"

namespace varnsim {

struct CoeFpgaSpec {
  DeviceConfig device;
  int slot = -1;  // -1: its position in the chain
  bool regulators = true;
  SlotPowerConfig power;
  bool layoutGiven = false;
};

struct CoeBoardSpec {
  std::string address;  // empty: the next free one from 127.0.0.2
  uint16_t port = 21363;
  std::vector<CoeFpgaSpec> fpgas;
  std::vector<uint32_t> idcodeOverride;
  bool answerHello = false;
  uint32_t helloDelayMs = 0;
  bool answerKeepalive = true;
};

struct CoeSimArgs {
  std::vector<CoeBoardSpec> boards;
};

// Tries argv[i] (and its value) as a CoE board option. Returns the arguments consumed,
// 0 when it is not one of these, -1 with *error set on a bad value.
int parseCoeArg(int argc, char** argv, int i, CoeSimArgs* args, std::string* error);
const char* coeArgsUsage();

// One running board: its silicon and its controller.
class CoeBoard {
 public:
  static std::unique_ptr<CoeBoard> start(const CoeBoardSpec& desc, const std::string& address, std::string* error);
  ~CoeBoard();
  ControllerServer& server() { return *server_; }
  JtagChain& chain() { return chain_; }
  std::string describe() const;

 private:
  CoeBoard() = default;
  JtagChain chain_;
  std::unique_ptr<CoreChain> wiring_;
  std::unique_ptr<ControllerServer> server_;
  std::vector<std::string> parts_;
  std::vector<int> slots_;
};

// Starts every board, one line each. On failure stops what was started.
bool startCoeBoards(const CoeSimArgs& args, std::vector<std::unique_ptr<CoeBoard>>* out, std::string* error);

}  // namespace varnsim
