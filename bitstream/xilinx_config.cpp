// Xilinx UltraScale+ configuration over JTAG: houseclean, the .bit stream into the
// configuration register, start-up, and the check that the device reports DONE.
#include <atomic>
#include <cinttypes>

#include "app/log/varn_log.h"
#include "app/platform/varn_platform.h"
#include "bitstream/bit_file.h"
#include "bitstream/bitstream_internal.h"
#include "bitstream/varn_bitstream.h"
#include "bitstream/xilinx_stream.h"
#include "jtag/tap.h"
#include "jtag/transport.h"

namespace {

constexpr int kHousecleanAttempts = 10;
constexpr uint32_t kHousecleanIdleClocks = 30000;
constexpr uint32_t kStartupIdleClocks = 60000;
constexpr uint32_t kFlashBootIdleClocks = 1200000;

bool validIndex(const VARNJtag* jtag, uint32_t device) {
  return jtag != nullptr && device < jtag->deviceCount && device < static_cast<uint32_t>(VARN_JTAG_MAX_DEVICES);
}

// A controller that addresses devices itself takes the stream per device and keeps the
// configuration status; over a host-walked TAP the device's own IR capture tells.
bool controllerAddressed(const VARNJtag* jtag) { return !jtag->transport->walksTap; }

// The captured IR bit that reports the cleared state (INIT_COMPLETE of the master SLR);
// DONE is the bit above it.
uint32_t initBit(const VARNJtag* jtag, uint32_t device) {
  return static_cast<uint32_t>(varn_bit_instruction(jtag, device, JTAG_I_INIT_BIT));
}

bool bitSet(uint64_t value, uint32_t bit) { return bit < 64 && ((value >> bit) & 1u) != 0; }

// A captured IR bit. Over FTDI the last bit of an n-bit capture that leaves Shift-IR on
// its exit clock arrives in bit 7 of its byte, not at bit n-1 (the device nearest TDI
// has no padding after its instruction); DONE is that last bit.
bool capturedBit(const VARNJtag* jtag, uint32_t device, uint64_t captured, uint32_t bit) {
  if (bitSet(captured, bit)) return true;
  const int32_t n = jtag->irLength[device];
  if (controllerAddressed(jtag) || n <= 0 || bit != static_cast<uint32_t>(n - 1)) return false;
  return bitSet(captured, 8 * (bit / 8) + 7);
}

int houseclean(VARNJtag* jtag, uint32_t device) {
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_JPROGRAM), nullptr);
  const uint64_t noop = varn_bit_instruction(jtag, device, JTAG_I_ISC_NOOP);
  varn_bit_load_instruction(jtag, device, noop, nullptr);
  const uint32_t bit = initBit(jtag, device);
  for (int attempt = 0; attempt < kHousecleanAttempts; ++attempt) {
    varn_jtag_comm_move_to_state(jtag, IDLE, 0, nullptr);
    // Over CoE this is one idle request; with XVC owning the link it sends nothing.
    varn_jtag_comm_tap_wait(jtag, kHousecleanIdleClocks);
    uint64_t captured = 0;
    varn_bit_load_instruction(jtag, device, noop, &captured);
    varn_jtag_comm_flush(jtag);
    if (capturedBit(jtag, device, captured, bit)) {
      VARNLog("Houseclean OK\n");
      return VARN_BIT_OK;
    }
  }
  VARNLog("Houseclean Fail\n");
  return VARN_BIT_TIMEOUT;
}

void startup(VARNJtag* jtag, uint32_t device) {
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_JSTART), nullptr);
  varn_jtag_comm_tap_wait(jtag, kStartupIdleClocks);
  varn_jtag_comm_reset_tap(jtag);
}

// Over FTDI the device's own IR capture tells whether start-up reached DONE; without
// this a wrong-part or cut-off stream would be reported as loaded.
int checkDoneFtdi(VARNJtag* jtag, uint32_t device) {
  uint64_t captured = 0;
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_ISC_NOOP), &captured);
  varn_jtag_comm_reset_tap(jtag);
  varn_jtag_comm_flush(jtag);
  const uint32_t doneBit = initBit(jtag, device) + 1;
  if (capturedBit(jtag, device, captured, doneBit)) return VARN_BIT_OK;
  VARNLog("Configuration not done: device %u IR capture 0x%" PRIx64 " has DONE (bit %u) clear\n", device, captured,
          doneBit);
  return VARN_BIT_MISMATCH;
}

int checkDoneCoE(VARNJtag* jtag, uint32_t device) {
  varn_sleep_ms(varn_bit_coe_status_pause_ms());
  const uint8_t slot = jtag->coeSlot[device];
  uint8_t status = 0;
  uint32_t answerLen = 0;
  switch (jtag->transport->configStatus(jtag, device, &status, &answerLen)) {
    case CoeStatusResult::RequestFailed:
      VARNLog("CoE configuration status request failed\n");
      return VARN_BIT_STATUS_FAILED;
    case CoeStatusResult::NoRecord:
      VARNLog("CoE configuration status answer of %u bytes holds no record for slot %u\n", answerLen, slot);
      return VARN_BIT_STATUS_FAILED;
    case CoeStatusResult::Done:
      VARNLog("Status byte was %i\n", status);
      return VARN_BIT_OK;
    case CoeStatusResult::NotDone:
      break;
  }
  VARNLog("Status byte was %i\n", status);
  return VARN_BIT_MISMATCH;
}

double percent(uint64_t sent, uint64_t length) {
  const double p = length ? static_cast<double>(sent) * 100.0 / static_cast<double>(length) : 0.0;
  return p < VARN_BIT_PROGRESS_RUNNING_MAX ? p : VARN_BIT_PROGRESS_RUNNING_MAX;
}

// Shifts the whole file into the configuration register. 0, 5 (a CoE shift failed:
// the controller cannot take the rest either) or 6 (the file gave fewer bytes).
int streamFile(VARNJtag* jtag, uint32_t device, const char* path, BitFile& file, uint64_t length,
               VARNProgressCell* progress) {
  XilinxChunkStream stream(file, length);
  uint64_t sent = 0;
  for (;;) {
    const uint8_t* data = nullptr;
    bool last = false;
    const size_t n = stream.next(&data, &last);
    if (n == 0) break;
    const XilinxChunkForm form = varn_xilinx_chunk_form(controllerAddressed(jtag), device, last);
    // Each byte goes out most significant bit first, as the configuration logic wants.
    const int rc = varn_jtag_comm_tap_dr_shift(jtag, form.device, 8ull * n, jtag->deviceCount, data, nullptr,
                                               form.endState, true);
    if (rc != 0) {
      VARNLog("%s data shift failed at byte %" PRIu64 " of %" PRIu64 " of %s; load abandoned\n",
              jtag->transport->name, sent, length, path);
      return VARN_BIT_STATUS_FAILED;
    }
    sent += n;
    varn_bit_progress(progress, percent(sent, length));
    if (last) break;
  }
  if (sent < length) {
    VARNLog("Bitstream %s gave %" PRIu64 " of its %" PRIu64 " bytes; the device was not started\n", path, sent,
            length);
    return VARN_BIT_MISREAD;
  }
  return VARN_BIT_OK;
}

// Where the configuration data declared by a .bit header ends: the header's fields
// 'a' to 'd' (each a key, a 16-bit length and the text), then 'e' with the 32-bit length
// of the data that follows. 0 when the file has no such header (a raw stream).
uint64_t declaredEnd(BitFile& file) {
  auto byte = [&file] { return file.getByte(); };
  auto be16 = [&]() -> int {
    int h = byte(), l = byte();
    return h < 0 || l < 0 ? -1 : (h << 8 | l);
  };
  uint64_t at = 0;
  const int preamble = be16();
  if (preamble != 9) return 0;
  for (int i = 0; i < 9; ++i) byte();
  if (be16() != 1) return 0;
  at = 2 + 9 + 2;
  for (;;) {
    const int key = byte();
    ++at;
    if (key == 'e') {
      uint64_t len = 0;
      for (int i = 0; i < 4; ++i) {
        const int b = byte();
        if (b < 0) return 0;
        len = len << 8 | uint64_t(b);
      }
      return at + 4 + len;
    }
    if (key < 'a' || key > 'd') return 0;
    const int len = be16();
    if (len < 0) return 0;
    for (int i = 0; i < len; ++i)
      if (byte() < 0) return 0;
    at += 2 + uint64_t(len);
  }
}

int loadXilinx(VARNJtag* jtag, uint32_t device, const char* path, int skipHouseclean, VARNProgressCell* progress) {
  BitFile file;
  if (!file.open(path, false)) {
    VARNLog("Bitstream %s cannot be opened for reading (%s)\n", path ? path : "(none)", file.why());
    return VARN_BIT_OPEN_FAILED;
  }
  // A file cut short would be found out only after housecleaning had erased the
  // running design: it is refused while the device is still as it was.
  {
    const int64_t size = file.length();
    const uint64_t end = declaredEnd(file);
    if (file.seek(0) != 0 || size < 0 || end > uint64_t(size)) {
      VARNLog("Bitstream %s declares %llu bytes but holds %lld; not loaded, the device is left as it was\n", path,
              static_cast<unsigned long long>(end), static_cast<long long>(size));
      return VARN_BIT_MISREAD;
    }
  }
  if (skipHouseclean == 0) {
    const int rc = houseclean(jtag, device);
    if (rc != VARN_BIT_OK) return rc;
  }
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_CFG_IN), nullptr);
  const int64_t length = file.length();
  if (length < 0) {
    VARNLog("Bitstream %s: its length cannot be taken\n", path);
    varn_jtag_comm_reset_tap(jtag);
    varn_jtag_comm_flush(jtag);
    return VARN_BIT_MISREAD;
  }
  const int rc = streamFile(jtag, device, path, file, static_cast<uint64_t>(length), progress);
  file.close();
  if (rc != VARN_BIT_OK) {
    varn_jtag_comm_reset_tap(jtag);
    varn_jtag_comm_flush(jtag);
    return rc;
  }
  startup(jtag, device);
  if (!controllerAddressed(jtag)) {
    varn_jtag_comm_flush(jtag);
    return checkDoneFtdi(jtag, device);
  }
  return checkDoneCoE(jtag, device);
}

}  // namespace

int _VARNJtagPreload(VARNJtag* jtag, uint32_t device) {
  if (!validIndex(jtag, device)) return VARN_BIT_BAD_INDEX;
  if (varn_bit_is_intel(jtag, device)) return VARN_BIT_WRONG_VENDOR;
  return houseclean(jtag, device);
}

int VARNJtagLoadBitstream(VARNJtag* jtag, uint32_t device, const char* path, int skipHouseclean,
                          VARNProgressCell* progress) {
  if (!validIndex(jtag, device)) return VARN_BIT_BAD_INDEX;
  varn_bit_progress(progress, 0.0);
  const int rc = varn_bit_is_intel(jtag, device) ? varn_bit_load_intel(jtag, device, path, progress)
                                                 : loadXilinx(jtag, device, path, skipHouseclean, progress);
  if (rc == VARN_BIT_OK) varn_bit_progress(progress, 100.0);
  return rc;
}

int VARNJtagClearBitstream(VARNJtag* jtag, uint32_t device) {
  if (!validIndex(jtag, device)) return VARN_BIT_BAD_INDEX;
  if (varn_bit_is_intel(jtag, device)) return VARN_BIT_WRONG_VENDOR;
  const int rc = houseclean(jtag, device);
  if (rc != VARN_BIT_OK) return rc;
  startup(jtag, device);
  varn_jtag_comm_flush(jtag);
  return VARN_BIT_OK;
}

int VARNJtagBootFromFlash(VARNJtag* jtag, uint32_t device) {
  if (!validIndex(jtag, device)) return VARN_BIT_BAD_INDEX;
  if (varn_bit_is_intel(jtag, device)) return VARN_BIT_WRONG_VENDOR;
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_JPROGRAM), nullptr);
  const int32_t n = jtag->irLength[device];
  const uint64_t bypass = n >= 64 ? ~0ull : (n > 0 ? (1ull << n) - 1 : 0);
  for (int i = 0; i < 3; ++i) varn_bit_load_instruction(jtag, device, bypass, nullptr);
  varn_jtag_comm_tap_wait(jtag, kFlashBootIdleClocks);
  varn_jtag_comm_reset_tap(jtag);
  varn_jtag_comm_flush(jtag);
  return VARN_BIT_OK;
}

namespace {
std::atomic<uint32_t> gCoEStatusPauseMs{1000};
}

void varn_bit_set_coe_status_pause_ms(uint32_t ms) { gCoEStatusPauseMs.store(ms); }
uint32_t varn_bit_coe_status_pause_ms() { return gCoEStatusPauseMs.load(); }
