// The simulated boards and FTDI channels behind the D2XX calls: built from the
// description named by VARNSIM_BOARDS on first use (or loaded by a test), listed as
// the vendor driver lists them, opened by index, found again by handle.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ftdi/ftd2xx.h"
#include "sim/core/board_file.h"
#include "sim/core/sim_board.h"
#include "sim/mpsse/ftdi_channel.h"

namespace varnsim {

struct ChannelEntry {
  // As the device list shows it.
  std::string serial;
  std::string description;
  uint32_t id = 0;
  uint32_t type = 0;
  bool highSpeed = false;
  const ChipInfo* chip = nullptr;
  int index = 0;

  ChannelSpec::Role role = ChannelSpec::Role::None;
  int device = 0;
  std::shared_ptr<SimBoard> board;  // its lock and clock serve the channel
  std::unique_ptr<FtdiChannel> ch;

  // Guarded by board->mutex().
  ChannelFaults faults;
  uint32_t readTimeoutMs = 0;   // 0: no limit, the driver's default
  uint32_t writeTimeoutMs = 0;

  // Guarded by the registry's lock.
  bool failOpen = false;
  bool open = false;
  uintptr_t handle = 0;
};

class Registry {
 public:
  static Registry& get();

  // 0, or -1 with lastError() set; the old boards stay when loading fails.
  int loadText(const std::string& text);
  int loadFile(const std::string& path);
  std::string lastError();
  void setError(const std::string& e);

  size_t count();
  // With its open state, read under the registry's lock.
  std::shared_ptr<ChannelEntry> entry(size_t index, bool* open = nullptr, uintptr_t* handle = nullptr);
  std::shared_ptr<ChannelEntry> byHandle(FT_HANDLE h);
  std::shared_ptr<ChannelEntry> bySerial(const std::string& serial);
  std::shared_ptr<SimBoard> board(const std::string& name);

  FT_STATUS open(size_t index, FT_HANDLE* out);
  FT_STATUS close(FT_HANDLE h);
  void setFailOpen(ChannelEntry& e, bool on);

 private:
  void ensureLoaded();  // under m_
  int install(const BoardFile& f, std::string* err);

  std::mutex m_;
  bool loaded_ = false;
  std::vector<std::shared_ptr<SimBoard>> boards_;
  std::vector<std::shared_ptr<ChannelEntry>> entries_;
  std::map<uintptr_t, std::shared_ptr<ChannelEntry>> handles_;
  uintptr_t nextHandle_ = 0x5A1D0001;
  std::string error_;
};

}  // namespace varnsim
