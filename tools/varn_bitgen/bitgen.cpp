#include "tools/varn_bitgen/bitgen.h"

#include <cstdio>
#include <memory>

#include "sim/core/crc.h"
#include "sim/core/parts.h"
#include "sim/core/rbf_format.h"
#include "sim/core/xilinx_packets.h"

namespace varnbitgen {

using namespace varnsim::xcfg;
using varnsim::PartInfo;

namespace {

constexpr uint8_t kBitPreamble[13] = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};

struct WordSink {
  virtual ~WordSink() = default;
  virtual void word(uint32_t w) = 0;
};

struct CountSink : WordSink {
  uint64_t n = 0;
  void word(uint32_t) override { ++n; }
};

// Bytes out through the caller's sink in blocks, cut at the truncation point.
class ByteOut {
 public:
  ByteOut(const Sink& s, uint64_t limit) : sink_(s), limit_(limit) { buf_.reserve(kBlock); }
  ~ByteOut() { flush(); }
  void byte(uint8_t b) {
    if (limit_ && written_ >= limit_) return;
    ++written_;
    buf_.push_back(b);
    if (buf_.size() == kBlock) flush();
  }
  void bytes(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) byte(p[i]);
  }
  void flush() {
    if (!buf_.empty()) sink_(buf_.data(), buf_.size());
    buf_.clear();
  }

 private:
  static constexpr size_t kBlock = 65536;
  const Sink& sink_;
  uint64_t limit_;
  uint64_t written_ = 0;
  std::vector<uint8_t> buf_;
};

struct BigEndianWords : WordSink {
  explicit BigEndianWords(ByteOut& o) : out(o) {}
  void word(uint32_t w) override {
    out.byte(static_cast<uint8_t>(w >> 24));
    out.byte(static_cast<uint8_t>(w >> 16));
    out.byte(static_cast<uint8_t>(w >> 8));
    out.byte(static_cast<uint8_t>(w));
  }
  ByteOut& out;
};

struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed * 2654435761u + 0x1234567u) {
    if (!s) s = 1;
  }
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
};

struct Layout {
  uint32_t frames = 1;   // per SLR
  uint32_t padding = 0;  // extra NOOPs at the end of the master section
};

// One SLR's section of the stream, with the sections of the SLRs below it nested in
// its register-0x1E forwarding write.
class Section {
 public:
  Section(const BitOptions& o, const PartInfo& p, const Layout& l, int slr, WordSink& out)
      : o_(o), p_(p), l_(l), slr_(slr), out_(out), ks_(0) {}

  void emit() {
    const int dummies = slr_ == 0 ? 16 : 2;
    for (int i = 0; i < dummies; ++i) raw(kDummyWord);
    raw(kBusWidthSync);
    raw(kBusWidthDetect);
    raw(kDummyWord);
    raw(kDummyWord);
    raw(kSyncWord);
    raw(kNoop);
    reg(kRegTimer, 0);
    reg(kRegWbstar, 0);
    cmd(kCmdNull);
    raw(kNoop);
    cmd(kCmdRcrc);
    noops(2);
    reg(kRegCor0, 0x38003FE5);
    reg(kRegCor1, 0x00400000);
    if (o_.encrypted) {
      // Everything after this CTL0 write, the IDCODE included, is cipher text.
      reg(kRegMask, kCtl0Decrypt);
      reg(kRegCtl0, kCtl0Decrypt);
      enc_ = true;
      ks_ = KeyStream(o_.key);
    }
    reg(kRegIdcode, slr_ == 0 && o_.idcode ? o_.idcode : p_.slrIdcodes[slr_]);
    cmd(kCmdSwitch);
    raw(kNoop);
    reg(kRegMask, 0x00000401);
    reg(kRegCtl0, 0x00000501);
    reg(kRegMask, 0);
    reg(kRegCtl1, 0);
    noops(8);
    reg(kRegFar, 0);
    cmd(kCmdWcfg);
    raw(kNoop);
    frames();
    crcCheck();
    if (slr_ + 1 < p_.slrs) forward();
    cmd(kCmdGrestore);
    raw(kNoop);
    cmd(kCmdDghigh);
    noops(20);
    if (slr_ == 0 && o_.usercodeGiven) reg(kRegAxss, o_.usercode);
    cmd(kCmdStart);
    raw(kNoop);
    reg(kRegFar, 0x07FC0000);
    reg(kRegMask, 0x00000101);
    reg(kRegCtl0, 0x00000101);
    crcCheck();
    cmd(kCmdDesync);
    enc_ = false;
    noops(slr_ == 0 ? 64 + l_.padding : 16);
  }

 private:
  void raw(uint32_t w) {
    if (enc_) w ^= ks_.next();
    out_.word(w);
  }
  void data(uint32_t r, uint32_t d) {
    if (r != kRegCrc) crc_ = varnsim::crc32cConfigWord(crc_, r, d);
    raw(d);
    if (r == kRegCmd && d == kCmdRcrc) crc_ = 0;
  }
  void reg(uint32_t r, uint32_t d) {
    raw(type1Write(r, 1));
    data(r, d);
  }
  void cmd(uint32_t c) { reg(kRegCmd, c); }
  void noops(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) raw(kNoop);
  }
  void crcCheck() {
    if (!o_.writeCrc) return;
    raw(type1Write(kRegCrc, 1));
    raw(crc_);
  }
  void frames() {
    const uint64_t n = uint64_t{l_.frames} * kFrameWords;
    raw(type1Write(kRegFdri, 0));
    raw(type2Write(static_cast<uint32_t>(n)));
    Rng rng(o_.seed * 31u + static_cast<uint32_t>(slr_));
    const uint64_t flipAt = n / 2;
    for (uint64_t i = 0; i < n; ++i) {
      uint32_t w = rng.next();
      crc_ = varnsim::crc32cConfigWord(crc_, kRegFdri, w);
      if (o_.corrupt && slr_ == 0 && i == flipAt) w ^= 0x00010000;  // after the CRC saw it
      raw(w);
    }
  }
  void forward() {
    CountSink count;
    Section(o_, p_, l_, slr_ + 1, count).emit();
    raw(type1Write(kRegSlrForward, 0));
    raw(type2Write(static_cast<uint32_t>(count.n)));
    struct Through : WordSink {
      Section* s;
      void word(uint32_t w) override { s->raw(w); }
    } through;
    through.s = this;
    Section(o_, p_, l_, slr_ + 1, through).emit();
  }

  const BitOptions& o_;
  const PartInfo& p_;
  const Layout& l_;
  int slr_;
  WordSink& out_;
  uint32_t crc_ = 0;
  bool enc_ = false;
  KeyStream ks_;
};

std::string fieldA(const BitOptions& o) {
  std::string a = o.design + ";";
  if (o.encrypted) a += "ENCRYPT=YES;";
  char buf[64];
  std::snprintf(buf, sizeof buf, "UserID=0X%08X;Version=2022.1", o.usercodeGiven ? o.usercode : 0xFFFFFFFFu);
  return a + buf;
}

const PartInfo* xilinxPart(const std::string& name, std::string* error) {
  const PartInfo* p = varnsim::findPart(name);
  if (!p || p->vendor != varnsim::Vendor::Xilinx) {
    if (error) *error = "not a Xilinx part: '" + name + "' (VU33P, VU35P, VU9P, VU13P)";
    return nullptr;
  }
  return p;
}

uint64_t streamWords(const BitOptions& o, const PartInfo& p, const Layout& l) {
  CountSink c;
  Section(o, p, l, 0, c).emit();
  return c.n;
}

void field(ByteOut& out, char key, const std::string& text) {
  const size_t len = text.size() + 1;
  const uint8_t h[3] = {static_cast<uint8_t>(key), static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
  out.bytes(h, 3);
  out.bytes(reinterpret_cast<const uint8_t*>(text.c_str()), len);
}

}  // namespace

size_t bitHeaderLength(const BitOptions& o) {
  const PartInfo* p = varnsim::findPart(o.part);
  const std::string b = p ? p->bitPartName : "";
  return 13 + (3 + fieldA(o).size() + 1) + (3 + b.size() + 1) + (3 + o.date.size() + 1) + (3 + o.time.size() + 1) + 5;
}

bool writeBit(const BitOptions& o, const Sink& sink, std::string* error) {
  const PartInfo* p = xilinxPart(o.part, error);
  if (!p) return false;
  Layout l;
  const size_t header = bitHeaderLength(o);
  if (o.frames) {
    l.frames = o.frames;
  } else if (o.sizeBytes) {
    Layout one;
    Layout two;
    two.frames = 2;
    const uint64_t w1 = streamWords(o, *p, one), slope = streamWords(o, *p, two) - w1;
    const uint64_t target = o.sizeBytes > header ? (o.sizeBytes - header) / 4 : 0;
    if (target > w1) {
      const uint64_t extra = (target - w1) / slope;
      if (extra + 1 > 0x7FFFFFFF / kFrameWords) {
        if (error) *error = "size too large for one FDRI packet per SLR";
        return false;
      }
      l.frames = static_cast<uint32_t>(1 + extra);
      l.padding = static_cast<uint32_t>(target - w1 - extra * slope);
    }
  }
  const uint64_t words = streamWords(o, *p, l);
  if (words * 4 > 0xFFFFFFFFull) {
    if (error) *error = "stream longer than a .bit length field holds";
    return false;
  }
  ByteOut out(sink, o.truncateTo);
  out.bytes(kBitPreamble, sizeof kBitPreamble);
  field(out, 'a', fieldA(o));
  field(out, 'b', p->bitPartName);
  field(out, 'c', o.date);
  field(out, 'd', o.time);
  const uint64_t len = words * 4;
  const uint8_t e[5] = {'e', static_cast<uint8_t>(len >> 24), static_cast<uint8_t>(len >> 16),
                        static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
  out.bytes(e, 5);
  BigEndianWords be(out);
  Section(o, *p, l, 0, be).emit();
  return true;
}

bool writeRbf(const RbfOptions& o, const Sink& sink, std::string* error) {
  const PartInfo* p = varnsim::findPart(o.part);
  if (!p || p->vendor != varnsim::Vendor::Intel) {
    if (error) *error = "not an Intel part: '" + o.part + "' (GX2800-H, GX2800-L, MX2100)";
    return false;
  }
  uint64_t len = (o.sizeBytes + 3) / 4 * 4;
  if (len < varnsim::rbf::kMinLength) len = varnsim::rbf::kMinLength;
  if (len > varnsim::rbf::kMaxLength) {
    if (error) *error = "size above the container's 1 GiB limit";
    return false;
  }
  ByteOut out(sink, o.truncateTo);
  uint32_t crc = 0xFFFFFFFF;
  auto put = [&](uint32_t w, bool flip) {
    for (int k = 0; k < 4; ++k) {
      uint8_t b = static_cast<uint8_t>(w >> (8 * k));
      crc = varnsim::crc32IeeeByte(crc, b);
      out.byte(flip && k == 1 ? static_cast<uint8_t>(b ^ 0x10) : b);
    }
  };
  put(varnsim::rbf::kRbfMagic, false);
  put(static_cast<uint32_t>(len), false);
  put(o.idcode ? o.idcode : p->idcode, false);
  put(0, false);
  Rng rng(o.seed);
  const uint64_t payload = (len - varnsim::rbf::kMinLength) / 4;
  for (uint64_t i = 0; i < payload; ++i) put(rng.next(), o.corrupt && i == payload / 2);
  const uint32_t final = ~crc;
  for (int k = 0; k < 4; ++k) out.byte(static_cast<uint8_t>(final >> (8 * k)));
  return true;
}

std::vector<uint8_t> makeBit(const BitOptions& o, std::string* error) {
  std::vector<uint8_t> v;
  if (!writeBit(o, [&](const uint8_t* d, size_t n) { v.insert(v.end(), d, d + n); }, error)) v.clear();
  return v;
}

std::vector<uint8_t> makeRbf(const RbfOptions& o, std::string* error) {
  std::vector<uint8_t> v;
  if (!writeRbf(o, [&](const uint8_t* d, size_t n) { v.insert(v.end(), d, d + n); }, error)) v.clear();
  return v;
}

namespace {

template <class Opt, class Fn>
bool toFile(const Opt& o, const std::string& path, std::string* error, Fn fn) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) {
    if (error) *error = "cannot create '" + path + "'";
    return false;
  }
  bool ioError = false;
  bool ok = fn(o, [&](const uint8_t* d, size_t n) { ioError |= std::fwrite(d, 1, n, f.get()) != n; }, error);
  if (ok && ioError) {
    if (error) *error = "write to '" + path + "' failed";
    ok = false;
  }
  return ok;
}

}  // namespace

bool writeBitFile(const BitOptions& o, const std::string& path, std::string* error) {
  return toFile(o, path, error, writeBit);
}

bool writeRbfFile(const RbfOptions& o, const std::string& path, std::string* error) {
  return toFile(o, path, error, writeRbf);
}

}  // namespace varnbitgen
