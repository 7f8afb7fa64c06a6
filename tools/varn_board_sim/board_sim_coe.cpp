#include "tools/varn_board_sim/board_sim_coe.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/core/intel_device.h"
#include "sim/core/xilinx_device.h"
#include "sim/design/design.h"

namespace varnsim {

namespace {

bool parseUnsigned(const std::string& s, uint64_t hi, uint64_t* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno || *end || v > hi || s[0] == '-') return false;
  *out = v;
  return true;
}

// "PART" or "PART,key=value,...": sim/core's device keys, the controller's keys
// (slot, vrm, module, vrm_layout, vccint/vccbram/vcchbm start-up volts), and design options.
bool parseFpga(const std::string& text, CoeFpgaSpec* out, std::string* error) {
  size_t comma = text.find(',');
  std::string part = text.substr(0, comma);
  out->device.part = findPart(part);
  if (!out->device.part) {
    *error = "unknown part '" + part + "'";
    return false;
  }
  out->device.preconfigured = true;
  out->device.design = {{"app", "echo"}, {"family", "none"}};
  while (comma != std::string::npos) {
    size_t next = text.find(',', comma + 1);
    std::string kv = text.substr(comma + 1, next == std::string::npos ? std::string::npos : next - comma - 1);
    comma = next;
    size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "'" + kv + "' is not KEY=VALUE";
      return false;
    }
    std::string key = kv.substr(0, eq), value = kv.substr(eq + 1);
    uint64_t n = 0;
    if (key == "slot") {
      if (!parseUnsigned(value, 3, &n)) return *error = "slot needs 0..3", false;
      out->slot = int(n);
    } else if (key == "vrm") {
      if (value != "yes" && value != "no") return *error = "vrm needs yes or no", false;
      out->regulators = value == "yes";
    } else if (key == "module") {
      if (!parseUnsigned(value, 0xFFFF, &n)) return *error = "module needs a 16-bit identifier", false;
      out->power.moduleId = uint16_t(n);
    } else if (key == "vrm_layout") {
      if (!parseVrmLayout(value, &out->power.layout)) return *error = "vrm_layout needs vu3xp, two-rail or mx2100", false;
      out->layoutGiven = true;
    } else if (key == "vrm_vccint" || key == "vrm_vccbram" || key == "vrm_vcchbm") {
      char* end = nullptr;
      double v = std::strtod(value.c_str(), &end);
      if (*end || !(v > 0 && v < 3)) return *error = key + " needs volts between 0 and 3", false;
      out->power.railVolts[key == "vrm_vccint" ? 0 : key == "vrm_vccbram" ? 1 : 2] = v;
    } else {
      int r = setDeviceOption(out->device, key, value, error);
      if (r < 0) return false;
      if (r == 0) out->device.design[key] = value;
    }
  }
  if (!out->layoutGiven) out->power.layout = vrmLayoutFor(out->device.part->idcode);
  return true;
}

}  // namespace

const char* coeArgsUsage() {
  return "  --coe-board [ADDR]   a CoE board: a simulated board controller on ADDR (default the next of\n"
         "                       127.0.0.2, 127.0.0.3, ...) at port 21363; the --coe-* options after it apply\n"
         "                       to this board\n"
         "  --coe-fpga FPGA      an FPGA on the board's chain, device 0 (nearest TDI) first:\n"
         "                       PART[,KEY=VALUE...] with PART vu33p|vu35p|vu9p|vu13p|gx2800-h|gx2800-l|mx2100;\n"
         "                       keys: slot=0..3 (default its position), vrm=yes|no, module=0x00A3,\n"
         "                       vrm_layout=vu3xp|two-rail|mx2100, vrm_vccint/vrm_vccbram/vrm_vcchbm=VOLTS,\n"
         "                       the device keys of sim/core (dna, fuse, usercode, slr_temp, preconfigured,\n"
         "                       ...) and design options (app=echo|console|axi, ...); the FPGA starts\n"
         "                       configured unless preconfigured=no\n"
         "  --coe-port N         the board's port (default 21363)\n"
         "  --coe-idcodes LIST   the controller reports these IDCODEs (comma-separated) instead of its chain's\n"
         "  --coe-hello MODE     silent (default): the hello after connecting gets no answer; answer: it is\n"
         "                       answered like the keepalive; answer:MS: that answer comes MS ms late, and\n"
         "                       every later answer behind it\n"
         "  --coe-keepalive MODE answer (default) or silent\n";
}

int parseCoeArg(int argc, char** argv, int i, CoeSimArgs* args, std::string* error) {
  const char* a = argv[i];
  const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
  auto need = [&](const char* what) {
    *error = std::string(a) + " needs " + what;
    return -1;
  };
  if (!std::strcmp(a, "--coe-board")) {
    args->boards.emplace_back();
    uint32_t ip;
    if (v && v[0] != '-' && varn_parse_ipv4(v, &ip) == 1) {
      args->boards.back().address = v;
      return 2;
    }
    return 1;
  }
  bool ours = !std::strcmp(a, "--coe-fpga") || !std::strcmp(a, "--coe-port") || !std::strcmp(a, "--coe-idcodes") ||
              !std::strcmp(a, "--coe-hello") || !std::strcmp(a, "--coe-keepalive");
  if (!ours) return 0;
  if (args->boards.empty()) return *error = std::string(a) + " comes after a --coe-board", -1;
  CoeBoardSpec& b = args->boards.back();
  if (!v) return need("a value");
  if (!std::strcmp(a, "--coe-fpga")) {
    CoeFpgaSpec f;
    if (!parseFpga(v, &f, error)) {
      *error = std::string("--coe-fpga ") + v + ": " + *error;
      return -1;
    }
    b.fpgas.push_back(f);
    return 2;
  }
  uint64_t n = 0;
  if (!std::strcmp(a, "--coe-hello")) {
    std::string mode = v;
    b.answerHello = mode.rfind("answer", 0) == 0;
    b.helloDelayMs = 0;
    if (mode == "silent" || mode == "answer") return 2;
    if (mode.rfind("answer:", 0) == 0 && parseUnsigned(mode.substr(7), 60000, &n)) {
      b.helloDelayMs = uint32_t(n);
      return 2;
    }
    return need("silent, answer or answer:MS (MS up to 60000)");
  }
  if (!std::strcmp(a, "--coe-keepalive")) {
    if (std::strcmp(v, "answer") && std::strcmp(v, "silent")) return need("answer or silent");
    b.answerKeepalive = !std::strcmp(v, "answer");
    return 2;
  }
  if (!std::strcmp(a, "--coe-port")) {
    if (!parseUnsigned(v, 65535, &n)) return need("a port number 0..65535");
    b.port = uint16_t(n);
    return 2;
  }
  std::string list = v;
  b.idcodeOverride.clear();
  for (size_t at = 0; at <= list.size();) {
    size_t c = list.find(',', at);
    if (c == std::string::npos) c = list.size();
    if (!parseUnsigned(list.substr(at, c - at), 0xFFFFFFFF, &n)) return need("32-bit IDCODEs separated by commas");
    b.idcodeOverride.push_back(uint32_t(n));
    at = c + 1;
  }
  return 2;
}

std::unique_ptr<CoeBoard> CoeBoard::start(const CoeBoardSpec& desc, const std::string& address, std::string* error) {
  std::unique_ptr<CoeBoard> b(new CoeBoard());
  ControllerConfig cfg;
  cfg.idcodeOverride = desc.idcodeOverride;
  cfg.answerHello = desc.answerHello;
  cfg.helloAnswerDelayMs = desc.helloDelayMs;
  cfg.answerKeepalive = desc.answerKeepalive;
  DesignFactory factory = [](const DesignOptions& o, std::string* e) -> std::unique_ptr<FpgaDesign> {
    return makeDesignChecked(o, e);
  };
  for (size_t i = 0; i < desc.fpgas.size(); ++i) {
    const CoeFpgaSpec& f = desc.fpgas[i];
    DeviceConfig dc = f.device;
    fillDefaultIdentity(dc, std::hash<std::string>()(address) + i);
    int slot = f.slot >= 0 ? f.slot : int(i);
    if (slot >= kControllerSlots || cfg.slots[slot].device >= 0) {
      *error = "FPGA " + std::to_string(i) + ": slot " + std::to_string(slot) + " is taken or does not exist";
      return nullptr;
    }
    if (dc.part->vendor == Vendor::Xilinx)
      b->chain_.add(std::make_unique<XilinxDevice>(dc, factory));
    else
      b->chain_.add(std::make_unique<IntelDevice>(dc, factory));
    cfg.slots[slot].device = int(i);
    cfg.slots[slot].hasRegulators = f.regulators;
    cfg.slots[slot].power = f.power;
    b->parts_.push_back(dc.part->name);
    b->slots_.push_back(slot);
  }
  b->wiring_ = std::make_unique<CoreChain>(b->chain_);
  b->server_ = std::make_unique<ControllerServer>(address, desc.port, *b->wiring_, cfg);
  if (!b->server_->start(error)) return nullptr;
  return b;
}

CoeBoard::~CoeBoard() {
  if (server_) server_->stop();
}

std::string CoeBoard::describe() const {
  std::string s = server_->address() + ":" + std::to_string(server_->port()) + " (";
  for (size_t i = 0; i < parts_.size(); ++i)
    s += (i ? ", " : "") + parts_[i] + " slot " + std::to_string(slots_[i]);
  return s + (parts_.empty() ? "empty chain)" : ")");
}

bool startCoeBoards(const CoeSimArgs& args, std::vector<std::unique_ptr<CoeBoard>>* out, std::string* error) {
  int next = 2;
  for (const CoeBoardSpec& desc : args.boards) {
    std::string address = desc.address.empty() ? "127.0.0." + std::to_string(next++) : desc.address;
    std::string why;
    auto board = CoeBoard::start(desc, address, &why);
    if (!board) {
      *error = "CoE board on " + address + ": " + why;
      out->clear();
      return false;
    }
    std::printf("CoE board controller on %s\n", board->describe().c_str());
    std::fflush(stdout);
    out->push_back(std::move(board));
  }
  return true;
}

}  // namespace varnsim
