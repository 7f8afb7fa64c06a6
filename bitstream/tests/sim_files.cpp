#include "bitstream/tests/sim_files.h"

#include "bitstream/tests/test_files.h"
#include "sim/core/rbf_format.h"
#include "sim/core/xilinx_packets.h"

namespace simfiles {

using namespace varnsim::xcfg;

namespace {

std::vector<uint32_t> section(const varnsim::PartInfo& part, int slr, const BitOptions& opt) {
  std::vector<uint32_t> w;
  for (int i = 0; i < 8; ++i) w.push_back(kDummyWord);
  w.insert(w.end(), {kBusWidthSync, kBusWidthDetect, kDummyWord, kDummyWord, kSyncWord, kNoop, kNoop});
  w.insert(w.end(), {type1Write(kRegCmd, 1), kCmdRcrc, kNoop, kNoop});
  if (opt.encryptedHeader) {
    // An encrypted stream: the rest is noise to a device without the key.
    w.insert(w.end(), {type1Write(kRegMask, 1), kCtl0Decrypt, type1Write(kRegCtl0, 1), kCtl0Decrypt});
    uint32_t x = 0x2545F491u + static_cast<uint32_t>(slr);
    for (uint32_t i = 0; i < opt.framesPerSlr * kFrameWords; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      w.push_back(x);
    }
    return w;
  }
  w.insert(w.end(), {type1Write(kRegIdcode, 1), part.slrIdcodes[slr]});
  w.insert(w.end(), {type1Write(kRegCmd, 1), kCmdWcfg, type1Write(kRegFar, 1), 0});
  const uint32_t frameWords = opt.framesPerSlr * kFrameWords;
  w.insert(w.end(), {type1Write(kRegFdri, 0), type2Write(frameWords)});
  for (uint32_t i = 0; i < frameWords; ++i) w.push_back(0x9E3779B9u * (i + 1) ^ static_cast<uint32_t>(slr << 28));
  if (slr + 1 < part.slrs) {
    const std::vector<uint32_t> down = section(part, slr + 1, opt);
    w.insert(w.end(), {type1Write(kRegSlrForward, 0), type2Write(static_cast<uint32_t>(down.size()))});
    w.insert(w.end(), down.begin(), down.end());
  }
  w.insert(w.end(), {type1Write(kRegCmd, 1), kCmdGrestore, type1Write(kRegCmd, 1), kCmdStart});
  w.insert(w.end(), {type1Write(kRegCmd, 1), kCmdDesync});
  for (int i = 0; i < 16; ++i) w.push_back(kNoop);
  return w;
}

uint32_t crc32Ieee(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void le32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace

std::vector<uint8_t> xilinxBit(const varnsim::PartInfo& part, const BitOptions& opt) {
  std::vector<uint32_t> words;
  for (int i = 0; i < 16; ++i) words.push_back(kDummyWord);
  const std::vector<uint32_t> body = section(part, 0, opt);
  words.insert(words.end(), body.begin(), body.end());
  const std::string design = opt.encryptedHeader ? "top;ENCRYPT=YES;UserID=0XFFFFFFFF;Version=2022.1"
                                                 : "top;UserID=0XFFFFFFFF;Version=2022.1";
  std::vector<uint8_t> out = bittest::bitHeader(design, part.bitPartName, static_cast<uint32_t>(words.size() * 4));
  for (uint32_t w : words)
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(w >> s));
  if (opt.truncateTo && opt.truncateTo < out.size()) out.resize(opt.truncateTo);
  return out;
}

std::vector<uint8_t> intelRbf(const varnsim::PartInfo& part, uint32_t dataBytes) {
  dataBytes &= ~3u;
  const uint32_t length = varnsim::rbf::kHeaderBytes + dataBytes + 4;
  std::vector<uint8_t> out;
  le32(out, varnsim::rbf::kRbfMagic);
  le32(out, length);
  le32(out, part.idcode);
  le32(out, 0);
  for (uint32_t i = 0; i < dataBytes; ++i) out.push_back(static_cast<uint8_t>(i * 29 + (i >> 8)));
  le32(out, crc32Ieee(out.data(), out.size()));
  return out;
}

}  // namespace simfiles
