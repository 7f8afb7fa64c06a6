#include "sim/d2xx/sim_registry.h"

#include <cstdio>
#include <cstdlib>

#include "sim/design/pmbus_regulator.h"

namespace varnsim {

Registry& Registry::get() {
  static Registry r;
  return r;
}

void Registry::ensureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  // Where the simulated regulators' writes go, for tests that read rail moves back.
  if (const char* trace = std::getenv("VARNSIM_POWER_TRACE"); trace && *trace) {
    if (FILE* f = std::fopen(trace, "a")) {
      setRegulatorWriteTrace(f);
    } else {
      std::fprintf(stderr, "varnsim: cannot open VARNSIM_POWER_TRACE file %s\n", trace);
    }
  }
  const char* path = std::getenv("VARNSIM_BOARDS");
  if (!path || !*path) {
    std::fprintf(stderr, "varnsim: VARNSIM_BOARDS is not set: no simulated FTDI devices\n");
    return;
  }
  BoardFile f;
  std::string err;
  if (!loadBoardFile(path, &f, &err) || install(f, &err) != 0) {
    error_ = err;
    std::fprintf(stderr, "varnsim: %s\n", err.c_str());
  }
}

int Registry::install(const BoardFile& f, std::string* err) {
  std::vector<std::shared_ptr<SimBoard>> boards;
  std::map<std::string, std::shared_ptr<SimBoard>> byName;
  for (const auto& desc : f.boards) {
    std::shared_ptr<SimBoard> b = SimBoard::build(desc, standardDesignFactory(), err);
    if (!b) return -1;
    boards.push_back(b);
    byName[desc.name] = b;
  }
  std::vector<std::shared_ptr<ChannelEntry>> entries;
  for (const auto& chip : f.chips) {
    const bool multi = chip.chip->channels > 1;
    for (int i = 0; i < chip.chip->channels; ++i) {
      const ChannelSpec& cs = chip.channels[static_cast<size_t>(i)];
      auto e = std::make_shared<ChannelEntry>();
      const char letter = static_cast<char>('A' + i);
      // The vendor driver's names: serial + letter, description + " " + letter.
      e->serial = multi ? chip.serial + letter : chip.serial;
      e->description = multi ? chip.description + " " + letter : chip.description;
      e->id = (uint32_t{chip.vid} << 16) | chip.pid;
      e->type = chip.chip->deviceType;
      e->highSpeed = chip.chip->highSpeed;
      e->chip = chip.chip;
      e->index = i;
      e->role = cs.role;
      e->device = cs.device;
      e->faults = cs.faults;
      e->failOpen = cs.faults.failOpen;
      e->ch = std::make_unique<FtdiChannel>(*chip.chip, i, chip.timing);
      if (cs.role == ChannelSpec::Role::None) {
        e->board = SimBoard::empty(e->serial);
      } else {
        e->board = byName.at(cs.board);
      }
      SimBoard* b = e->board.get();
      if (cs.role == ChannelSpec::Role::Jtag) e->ch->setChain(&b->chain());
      if (cs.role == ChannelSpec::Role::Uart) {
        const size_t dev = static_cast<size_t>(cs.device);
        e->ch->setUart([b, dev]() { return b->uart(dev); });
      }
      e->ch->setTimeHook([b](uint64_t ps) { b->advanceTo(ps); });
      entries.push_back(std::move(e));
    }
  }
  for (auto& [h, e] : handles_) {
    (void)h;
    e->open = false;
  }
  handles_.clear();
  boards_ = std::move(boards);
  entries_ = std::move(entries);
  error_.clear();
  return 0;
}

int Registry::loadText(const std::string& text) {
  std::lock_guard<std::mutex> l(m_);
  loaded_ = true;
  BoardFile f;
  std::string err;
  if (!parseBoardFile(text, &f, &err) || install(f, &err) != 0) {
    error_ = err;
    return -1;
  }
  return 0;
}

int Registry::loadFile(const std::string& path) {
  std::lock_guard<std::mutex> l(m_);
  loaded_ = true;
  BoardFile f;
  std::string err;
  if (!loadBoardFile(path, &f, &err) || install(f, &err) != 0) {
    error_ = err;
    return -1;
  }
  return 0;
}

std::string Registry::lastError() {
  std::lock_guard<std::mutex> l(m_);
  return error_;
}

void Registry::setError(const std::string& e) {
  std::lock_guard<std::mutex> l(m_);
  error_ = e;
}

size_t Registry::count() {
  std::lock_guard<std::mutex> l(m_);
  ensureLoaded();
  return entries_.size();
}

std::shared_ptr<ChannelEntry> Registry::entry(size_t index, bool* open, uintptr_t* handle) {
  std::lock_guard<std::mutex> l(m_);
  ensureLoaded();
  if (index >= entries_.size()) return nullptr;
  if (open) *open = entries_[index]->open;
  if (handle) *handle = entries_[index]->handle;
  return entries_[index];
}

std::shared_ptr<ChannelEntry> Registry::byHandle(FT_HANDLE h) {
  std::lock_guard<std::mutex> l(m_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
  return it == handles_.end() ? nullptr : it->second;
}

std::shared_ptr<ChannelEntry> Registry::bySerial(const std::string& serial) {
  std::lock_guard<std::mutex> l(m_);
  ensureLoaded();
  for (auto& e : entries_)
    if (e->serial == serial) return e;
  error_ = "no simulated FTDI channel with serial '" + serial + "'";
  return nullptr;
}

std::shared_ptr<SimBoard> Registry::board(const std::string& name) {
  std::lock_guard<std::mutex> l(m_);
  ensureLoaded();
  for (auto& b : boards_)
    if (b->name() == name) return b;
  error_ = "no simulated board named '" + name + "'";
  return nullptr;
}

FT_STATUS Registry::open(size_t index, FT_HANDLE* out) {
  std::lock_guard<std::mutex> l(m_);
  ensureLoaded();
  if (index >= entries_.size()) return FT_DEVICE_NOT_FOUND;
  auto& e = entries_[index];
  if (e->failOpen || e->open) return FT_DEVICE_NOT_OPENED;
  e->open = true;
  e->handle = nextHandle_++;
  handles_[e->handle] = e;
  *out = reinterpret_cast<FT_HANDLE>(e->handle);
  return FT_OK;
}

void Registry::setFailOpen(ChannelEntry& e, bool on) {
  std::lock_guard<std::mutex> l(m_);
  e.failOpen = on;
}

FT_STATUS Registry::close(FT_HANDLE h) {
  std::lock_guard<std::mutex> l(m_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
  if (it == handles_.end()) return FT_INVALID_HANDLE;
  it->second->open = false;
  handles_.erase(it);
  return FT_OK;
}

}  // namespace varnsim
