#include "sim/d2xx/varnsim_api.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/d2xx/sim_registry.h"

using varnsim::Registry;

namespace {

constexpr uint64_t kPsPerNs = 1000;

}  // namespace

VARNSIM_API int varnsim_load_text(const char* description) {
  if (!description) return -1;
  return Registry::get().loadText(description);
}

VARNSIM_API int varnsim_load_file(const char* path) {
  if (!path) return -1;
  return Registry::get().loadFile(path);
}

VARNSIM_API const char* varnsim_last_error(void) {
  static thread_local std::string copy;
  copy = Registry::get().lastError();
  return copy.c_str();
}

VARNSIM_API int varnsim_channel_counters(const char* serial, VarnsimChannelCounters* out) {
  if (!serial || !out) return -1;
  auto e = Registry::get().bySerial(serial);
  if (!e) return -1;
  std::lock_guard<std::mutex> l(e->board->mutex());
  const auto& c = e->ch->counters();
  out->writes = c.writes;
  out->reads = c.reads;
  out->statusCalls = c.statusCalls;
  out->bytesWritten = c.bytesWritten;
  out->bytesRead = c.bytesRead;
  out->usbExchanges = c.exchanges;
  out->usbPackets = e->ch->inPath().packets();
  out->usbTransfers = e->ch->inPath().transfers();
  out->writeTimeouts = c.writeTimeouts;
  out->readTimeouts = c.readTimeouts;
  out->tcks = e->ch->engine().tcks();
  out->simTimeNs = e->board->now() / kPsPerNs;
  out->tckHz = e->ch->engine().tckHz();
  return 0;
}

VARNSIM_API int varnsim_device_state(const char* board, int device, VarnsimDeviceState* out) {
  if (!board || !out) return -1;
  auto b = Registry::get().board(board);
  if (!b) return -1;
  std::lock_guard<std::mutex> l(b->mutex());
  if (device < 0 || static_cast<size_t>(device) >= b->deviceCount()) {
    Registry::get().setError("board '" + std::string(board) + "' has no device " + std::to_string(device));
    return -1;
  }
  std::memset(out, 0, sizeof *out);
  const size_t i = static_cast<size_t>(device);
  std::string text;
  if (varnsim::XilinxDevice* x = b->xilinx(i)) {
    out->idcode = x->part().idcode;
    out->vendor = 0;
    out->done = x->done();
    out->initComplete = x->initComplete();
    out->error = static_cast<int>(x->configError());
    out->configWords = x->frameWords();
    out->programs = x->programs();
    out->usercode = x->usercode();
    out->designLoaded = x->design() != nullptr;
    out->irCapture = x->irCapture();
    text = x->describe();
  } else if (varnsim::IntelDevice* d = b->intel(i)) {
    auto& s = d->sdm();
    out->idcode = d->part().idcode;
    out->vendor = 1;
    out->done = d->configured();
    out->initComplete = 1;
    out->error = static_cast<int>(s.stream().errorCode);
    out->configWords = s.stream().taken;
    out->programs = s.commands();
    out->usercode = d->settings().usercode;
    out->designLoaded = d->design() != nullptr;
    out->irCapture = 0x155;
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s %s, %u bytes taken, %llu chunks", d->part().name,
                  d->configured() ? "configured" : (s.state() == varnsim::SdmState::Failed ? "failed" : "not configured"),
                  s.stream().taken, static_cast<unsigned long long>(s.chunks()));
    text = buf;
  }
  std::snprintf(out->text, sizeof out->text, "%s", text.c_str());
  return 0;
}

VARNSIM_API int varnsim_board_time_ns(const char* board, uint64_t* out) {
  if (!board || !out) return -1;
  auto b = Registry::get().board(board);
  if (!b) return -1;
  std::lock_guard<std::mutex> l(b->mutex());
  *out = b->now() / kPsPerNs;
  return 0;
}

VARNSIM_API int varnsim_inject_fault(const char* serial, const char* kind, int count) {
  if (!serial || !kind || count < 0) return -1;
  auto e = Registry::get().bySerial(serial);
  if (!e) return -1;
  const std::string k = kind;
  if (k == "open_failure") {
    Registry::get().setFailOpen(*e, count != 0);
    return 0;
  }
  std::lock_guard<std::mutex> l(e->board->mutex());
  if (k == "short_read") e->faults.shortReads = count;
  else if (k == "read_timeout") e->faults.readTimeouts = count;
  else if (k == "write_failure") e->faults.writeFailures = count;
  else if (k == "write_failure_in") e->faults.writeFailureIn = count;
  else {
    Registry::get().setError("unknown fault '" + k +
                             "' (short_read, read_timeout, write_failure, write_failure_in, open_failure)");
    return -1;
  }
  return 0;
}

VARNSIM_API int varnsim_set_sensor(const char* board, int device, int slr, const char* what, double value) {
  if (!board || !what) return -1;
  auto b = Registry::get().board(board);
  if (!b) return -1;
  std::lock_guard<std::mutex> l(b->mutex());
  const std::string w = what;
  if (device < 0 || static_cast<size_t>(device) >= b->deviceCount() || slr < 0 || slr > 3) {
    Registry::get().setError("no device " + std::to_string(device) + " / SLR " + std::to_string(slr));
    return -1;
  }
  const size_t i = static_cast<size_t>(device);
  if (varnsim::XilinxDevice* x = b->xilinx(i)) {
    if (slr >= x->slrs()) return -1;
    auto& s = x->sysmon(slr);
    if (w == "temp") s.setTemp(value);
    else if (w == "vccint") s.setVccint(value);
    else if (w == "vccaux") s.setVccaux(value);
    else if (w == "vccbram") s.setVccbram(value);
    else return -1;
    return 0;
  }
  varnsim::IntelDevice* d = b->intel(i);
  auto& c = d->sdm().settings();
  if (w == "temp") c.temp[0] = value;
  else if (w == "vccint") c.vccint[0] = value;
  else if (w == "vccaux") c.vccaux[0] = value;
  else if (w == "vccbram") c.vccbram[0] = value;
  else return -1;
  return 0;
}
