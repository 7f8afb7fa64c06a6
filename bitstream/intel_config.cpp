// Intel Stratix 10 configuration through the Secure Device Manager: a JTAG preamble,
// the program-start handshake, the .rbf stream in chunks whose position and pace the
// device decides, and the final status check.
#include <cinttypes>
#include <cstring>
#include <memory>

#include "app/log/varn_log.h"
#include "bitstream/bit_file.h"
#include "bitstream/bitstream_internal.h"
#include "bitstream/intel_stream.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/tap.h"

namespace {

constexpr uint32_t kSdmPollLimit = 50;
constexpr uint32_t kIdleClocks = 16;
constexpr uint64_t kInstrPreamble1 = 0x006;
constexpr uint64_t kInstrPreamble2 = 0x017;
constexpr uint8_t kFraming[VARN_INTEL_FRAMING] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x2A, 0x7E, 0xA1};

// SDM command tables: (word, tag) pairs.
constexpr uint32_t kCmdLoading[] = {0x00000000, 3, 0x00000000, 2};
constexpr uint32_t kCmdSync[] = {0x00000000, 0, 0xF0001001, 1, 0xE45578D9, 2};
constexpr uint32_t kCmdProgramStart[] = {0x00000005, 2};
constexpr uint32_t kCmdStatus[] = {0x00000000, 0, 0x00000004, 2};
constexpr uint64_t kStartGood = 3;  // status 3 (last word), data 0

void idle16(VARNJtag* jtag) {
  varn_jtag_comm_move_to_state(jtag, IDLE, 0, nullptr);
  varn_jtag_comm_tap_wait(jtag, kIdleClocks);
  varn_jtag_comm_flush(jtag);
}

void preamble(VARNJtag* jtag, uint32_t device) {
  uint8_t tdi[8] = {0x00, 0x00, 0x00, 0x00, 0xDD, 0x50, 0x22, 0xC3};
  uint8_t discard[8];
  varn_bit_load_instruction(jtag, device, kInstrPreamble1, nullptr);
  varn_jtag_comm_tap_dr_shift(jtag, device, 64, jtag->deviceCount, tdi, discard, DRUPDATE, false);
  varn_jtag_comm_flush(jtag);
  const uint8_t zeros[4] = {};
  for (int i = 0; i < 2; ++i) {
    varn_bit_load_instruction(jtag, device, kInstrPreamble2, nullptr);
    varn_jtag_comm_tap_dr_shift(jtag, device, 32, jtag->deviceCount, zeros, discard, DRUPDATE, false);
    varn_jtag_comm_flush(jtag);
  }
}

int sdm(VARNJtag* jtag, uint32_t device, const char* message, const uint32_t* entries, uint32_t count,
        uint32_t* answers, uint32_t capacity) {
  VARNLog("%s", message);
  return IntelSDMCommand(jtag, device, entries, answers, count, capacity, kSdmPollLimit);
}

IntelStreamStatus readStatus(VARNJtag* jtag, uint32_t device, uint8_t control) {
  const uint8_t tdi[5] = {control, 0, 0, 0, 0};
  uint8_t captured[5] = {};
  varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_CFG_STATUS), nullptr);
  varn_jtag_comm_tap_dr_shift(jtag, device, VARN_INTEL_STATUS_BITS, jtag->deviceCount, tdi, captured, DRUPDATE,
                              false);
  varn_jtag_comm_flush(jtag);
  return varn_intel_stream_status(captured);
}

// Streams the file at the device's pace. 0 when the device has taken it all.
int streamFile(VARNJtag* jtag, uint32_t device, const char* path, BitFile& file, uint64_t length,
               VARNProgressCell* progress) {
  // Heap, not stack: half a megabyte would crowd a board thread's stack.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[VARN_INTEL_CHUNK_BUFFER]);
  std::memcpy(buffer.get(), kFraming, sizeof kFraming);
  uint32_t chunk = VARN_INTEL_CHUNK_START;
  bool first = true, busy = false, sentAny = false;
  uint32_t budget = VARN_INTEL_POLL_BUDGET;
  uint8_t control = VARN_INTEL_CTRL_START;
  uint64_t lastOffset = 0;
  uint32_t resent = 0;  // chunks in a row after which the device had taken nothing more
  for (;;) {
    const IntelStreamStatus st = readStatus(jtag, device, control);
    if (--budget == 0) {
      VARNLog("Timed out\n");
      return VARN_BIT_TIMEOUT;
    }
    if (st.failed) {
      VARNLog("Programming Failed!\n");
      return VARN_BIT_MISMATCH;
    }
    if (st.busy) {
      busy = true;
      control = sentAny ? VARN_INTEL_CTRL_BUSY : VARN_INTEL_CTRL_START;
      continue;
    }
    chunk = varn_intel_next_chunk(chunk, busy, first);
    first = false;
    const uint64_t offset = st.offset;
    if (offset == length) return VARN_BIT_OK;
    if (offset > length) {
      // The file offset would run past the end: this file is not what the device is taking.
      VARNLog("Device reports %" PRIu64 " bytes taken of a %" PRIu64 "-byte file %s\n", offset, length, path);
      return VARN_BIT_MISMATCH;
    }
    if (sentAny && offset <= lastOffset) {
      // The device keeps taking nothing while reporting ready: without a bound the
      // same data would be sent for ever.
      if (++resent >= VARN_INTEL_MAX_RESENDS) {
        VARNLog("Device took nothing of %u chunks in a row at offset %" PRIu64 "\n", resent, offset);
        VARNLog("Timed out\n");
        return VARN_BIT_TIMEOUT;
      }
    } else {
      resent = 0;
    }
    lastOffset = offset;
    double pct = static_cast<double>(offset) * 100.0 / static_cast<double>(length);
    varn_bit_progress(progress, pct < VARN_BIT_PROGRESS_RUNNING_MAX ? pct : VARN_BIT_PROGRESS_RUNNING_MAX);
    const uint32_t len = length - offset < chunk ? static_cast<uint32_t>(length - offset) : chunk;

    varn_bit_load_instruction(jtag, device, varn_bit_instruction(jtag, device, JTAG_I_CFG_IN), nullptr);
    idle16(jtag);
    size_t got = 0;
    if (file.seek(static_cast<int64_t>(offset)) == 0) got = file.read(buffer.get() + VARN_INTEL_FRAMING, len);
    if (got < len) {
      VARNLog("Misread file %li!\n", static_cast<long>(got));
      return VARN_BIT_MISREAD;
    }
    buffer[VARN_INTEL_FRAMING + len] = 0x01;  // the single 1 bit after the data
    varn_jtag_comm_tap_dr_shift(jtag, device, (static_cast<uint64_t>(len) + VARN_INTEL_FRAMING) * 8 + 1,
                                jtag->deviceCount, buffer.get(), nullptr, DRUPDATE, false);
    varn_jtag_comm_flush(jtag);
    sentAny = true;
    busy = false;
    budget = VARN_INTEL_POLL_BUDGET;
    control = VARN_INTEL_CTRL_NEXT;
  }
}

int statusCheck(VARNJtag* jtag, uint32_t device) {
  uint32_t answers[14] = {};
  const int rc = sdm(jtag, device, "Program Done!\n", kCmdStatus, 2, answers, 7);
  if (rc != 0) return rc;
  const IntelConfigStatus s = varn_intel_config_status(answers);
  VARNLog("Status Check:\n");
  if (s.state != 0)
    VARNLog("SDM State: %04hx,%04hx\n", static_cast<unsigned short>(s.state >> 16),
            static_cast<unsigned short>(s.state & 0xFFFF));
  VARNLog("nStatus %i nConfig %i MSEL %i initDone %i confDone %i\n", static_cast<int>(s.nStatus),
          static_cast<int>(s.nConfig), static_cast<int>(s.msel), static_cast<int>(s.initDone),
          static_cast<int>(s.confDone));
  if (varn_intel_config_good(s)) return VARN_BIT_OK;
  VARNLog("SDM Error Location: %016" PRIx64 "\n", s.errorLocation);
  VARNLog("SDM Error Details: %016" PRIx64 "\n", s.errorDetails);
  return VARN_BIT_MISMATCH;
}

}  // namespace

int varn_bit_load_intel(VARNJtag* jtag, uint32_t device, const char* path, VARNProgressCell* progress) {
  preamble(jtag, device);
  uint32_t answers[14] = {};
  int rc = sdm(jtag, device, "Loading Intel Bitstream\n", kCmdLoading, 2, answers, 2);
  if (rc != 0) return rc;
  rc = sdm(jtag, device, "Forcing Intel SDM Sync\n", kCmdSync, 3, answers, 3);
  if (rc != 0) return rc;
  uint32_t start[2] = {};
  rc = sdm(jtag, device, "Sending Program Start\n", kCmdProgramStart, 1, start, 1);
  if (rc != 0) return rc;
  const uint64_t startRaw = static_cast<uint64_t>(start[0]) | (static_cast<uint64_t>(start[1]) << 32);
  VARNLog("Got Start Response: %016" PRIx64 " %016" PRIx64 "\n", startRaw, static_cast<uint64_t>(0));
  if (startRaw != kStartGood) {
    VARNLog("Bad Start, not programming\n");
    return VARN_BIT_MISMATCH;
  }
  VARNLog("Start was good!\n");

  BitFile file;
  if (!file.open(path, false)) {
    VARNLog("Bitstream %s cannot be opened for reading (%s)\n", path ? path : "(none)", file.why());
    return VARN_BIT_OPEN_FAILED;
  }
  const int64_t length = file.length();
  if (length < 0) {
    VARNLog("Bitstream %s: its length cannot be taken\n", path);
    return VARN_BIT_MISREAD;
  }
  rc = streamFile(jtag, device, path, file, static_cast<uint64_t>(length), progress);
  if (rc != VARN_BIT_OK) return rc;
  return statusCheck(jtag, device);
}
