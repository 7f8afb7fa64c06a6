#include "app/tests/board_rig.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace rig {

static double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}


static std::mt19937& rng() {
  static std::mt19937 r(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
  return r;
}

static bool canBind(const char* address, uint16_t port) {
  varn_socket s = varn_tcp_socket();
  if (!varn_socket_valid(s)) return false;
  bool ok = (address ? varn_bind_ipv4(s, address, port) : varn_bind_any(s, port)) == 0;
  varn_close_socket(s);
  return ok;
}

std::string freeCoeAddress() {
  for (;;) {
    char text[32];
    std::snprintf(text, sizeof text, "127.%u.%u.%u", 100 + unsigned(rng()() % 100), unsigned(rng()() % 250),
                  2 + unsigned(rng()() % 250));
    if (canBind(text, 21363)) return text;
  }
}

uint16_t freePortRange(int n) {
  for (;;) {
    uint16_t base = static_cast<uint16_t>(20000 + rng()() % 30000);
    bool all = true;
    for (int i = 0; i < n && all; ++i) all = canBind(nullptr, static_cast<uint16_t>(base + i));
    if (all) return base;
  }
}

Client::Client(uint16_t port, int receiveBuffer) {
  fd_ = varn_tcp_socket();
  if (varn_socket_valid(fd_) && receiveBuffer > 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  if (varn_socket_valid(fd_) && varn_connect_ipv4(fd_, "127.0.0.1", port) == 0) {
    varn_set_nodelay(fd_);
    return;
  }
  close();
}

Client::~Client() { close(); }

void Client::close() {
  if (varn_socket_valid(fd_)) varn_close_socket(fd_);
  fd_ = VARN_INVALID_SOCKET;
}

bool Client::send(const void* data, size_t len) { return connected() && varn_send_all(fd_, data, len) == 0; }
bool Client::send(const std::string& bytes) { return send(bytes.data(), bytes.size()); }

static bool readable(varn_socket fd, double seconds) {
  fd_set rs;
  FD_ZERO(&rs);
  FD_SET(fd, &rs);
  return varn_select(fd + 1, &rs, nullptr, static_cast<int64_t>(seconds * 1e6)) > 0;
}

std::string Client::receive(size_t len, double seconds) {
  std::string got;
  auto t0 = std::chrono::steady_clock::now();
  char buf[65536];
  while (connected() && got.size() < len) {
    double left = seconds - secondsSince(t0);
    if (left <= 0 || !readable(fd_, left)) break;
    long n = varn_recv(fd_, buf, std::min(sizeof buf, len - got.size()));
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

bool Client::receiveUntil(const std::string& needle, double seconds, std::string* got) {
  auto t0 = std::chrono::steady_clock::now();
  char buf[4096];
  while (connected() && got->find(needle) == std::string::npos) {
    double left = seconds - secondsSince(t0);
    if (left <= 0 || !readable(fd_, left)) return false;
    long n = varn_recv(fd_, buf, sizeof buf);
    if (n <= 0) return false;
    got->append(buf, static_cast<size_t>(n));
  }
  return got->find(needle) != std::string::npos;
}

bool Client::closedByPeer(double seconds) {
  auto t0 = std::chrono::steady_clock::now();
  char buf[256];
  while (connected()) {
    double left = seconds - secondsSince(t0);
    if (left <= 0 || !readable(fd_, left)) return false;
    if (varn_recv(fd_, buf, sizeof buf) <= 0) return true;
  }
  return false;
}

std::vector<uint16_t> openedPorts(const std::string& output) {
  static const std::regex line(R"(Opened (virtual TCP serial|multi-client virtual TCP AXI) port (\d+)\n)");
  std::vector<uint16_t> ports;
  for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
    ports.push_back(static_cast<uint16_t>(std::stoi((*it)[2])));
  return ports;
}

const char* bridgePath() { return VARN_BRIDGE_PATH; }
const char* boardSimPath() { return VARN_BOARD_SIM_PATH; }
const char* bitgenPath() { return VARN_BITGEN_PATH; }
const char* ftdiSimPath() { return VARN_FTDISIM_PATH; }

}  // namespace rig

void BoardRig::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = rig::fs::current_path() / (std::string("rig_") + info->test_suite_name() + "_" + info->name());
  rig::fs::remove_all(dir_);
  rig::fs::create_directories(dir_);
}

// What a sanitizer build prints when it finds something.
static void expectNoSanitizerReport(const std::string& who, const std::string& output) {
  for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                           "WARNING: ThreadSanitizer"}) {
    size_t at = output.find(mark);
    EXPECT_EQ(at, std::string::npos) << who << ": " << output.substr(at == std::string::npos ? 0 : at, 4000);
  }
}

void BoardRig::TearDown() {
  // The bridge first: it would otherwise log the simulator's departure.
  bridge_.reset();
  sim_.reset();
  expectNoSanitizerReport("varn_tcp_bridge", rig::readFile(dir_ / "bridge.out"));
  expectNoSanitizerReport("varn_board_sim", rig::readFile(dir_ / "sim.out"));
  if (HasFailure()) {
    std::printf("--- kept %s for inspection\n", dir_.c_str());
  } else {
    rig::fs::remove_all(dir_);
  }
}

bool BoardRig::startCoeSimAt(const std::vector<std::string>& addresses,
                             const std::vector<std::vector<std::string>>& boards) {
  std::vector<std::string> argv = {rig::boardSimPath()};
  for (size_t i = 0; i < boards.size() && i < addresses.size(); ++i) {
    argv.push_back("--coe-board");
    argv.push_back(addresses[i]);
    argv.insert(argv.end(), boards[i].begin(), boards[i].end());
  }
  sim_.reset();
  rig::fs::remove(dir_ / "sim.out");
  sim_ = std::make_unique<rig::Process>(argv, std::vector<std::string>{}, dir_, dir_ / "sim.out");
  if (sim_->waitFor("CoE board controller on", 10.0, static_cast<int>(boards.size()))) return true;
  sim_.reset();
  return false;
}

std::vector<std::string> BoardRig::startCoeSim(const std::vector<std::vector<std::string>>& boards) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::vector<std::string> addresses;
    for (size_t i = 0; i < boards.size(); ++i) addresses.push_back(rig::freeCoeAddress());
    // Another test may take an address between the check and the start: try others.
    if (startCoeSimAt(addresses, boards)) return addresses;
  }
  ADD_FAILURE() << "varn_board_sim did not start: " << rig::readFile(dir_ / "sim.out");
  return {};
}

static std::vector<std::string> bridgeEnv(const BoardRig* self, const rig::fs::path& dir, const std::string& boards) {
  if (boards.empty()) return {};
  rig::writeFile(dir / "boards.txt", boards);
  // The preloaded library comes before a sanitizer runtime in the library list.
  return {"VARNSIM_BOARDS=" + (dir / "boards.txt").string(), std::string("LD_PRELOAD=") + rig::ftdiSimPath(),
          "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
}

rig::Process& BoardRig::startBridge(const std::vector<std::string>& args, const std::string& ftdiBoards,
                                    const std::vector<std::string>& wrapper) {
  std::vector<std::string> argv = wrapper;
  argv.push_back(rig::bridgePath());
  argv.insert(argv.end(), args.begin(), args.end());
  bridge_ = std::make_unique<rig::Process>(argv, bridgeEnv(this, dir_, ftdiBoards), dir_, dir_ / "bridge.out");
  return *bridge_;
}

std::string BoardRig::runBridgeToEnd(const std::vector<std::string>& args, const std::string& ftdiBoards,
                                     int* status) {
  startBridge(args, ftdiBoards);
  *status = bridge_->waitExit(60.0);
  return bridge_->output();
}

std::string BoardRig::bitgen(const std::string& name, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {rig::bitgenPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("-o");
  argv.push_back((dir_ / name).string());
  rig::Process p(argv, {}, dir_, dir_ / "bitgen.out");
  EXPECT_EQ(p.waitExit(60.0), 0) << rig::readFile(dir_ / "bitgen.out");
  return (dir_ / name).string();
}
