#include "bitstream/tests/test_files.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

namespace bittest {

TempDir::TempDir() {
  // A name no other test process (or earlier run) holds: create_directory fails on one
  // that exists, so the first free one is ours.
  std::random_device seed;
  std::mt19937_64 pick(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = std::filesystem::temp_directory_path() / ("varn_bit_" + std::to_string(pick() % 1000000000));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec) && !ec) {
      dir_ = candidate.string();
      return;
    }
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TempDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string p = path(name);
  std::FILE* f = std::fopen(p.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return p;
}

namespace {
void field(std::vector<uint8_t>& out, char key, const std::string& text) {
  out.push_back(static_cast<uint8_t>(key));
  const size_t n = text.size() + 1;
  out.push_back(static_cast<uint8_t>(n >> 8));
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}
void word(std::vector<uint8_t>& out, uint32_t w) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(w >> s));
}
}  // namespace

std::vector<uint8_t> bitHeader(const std::string& designField, const std::string& part, uint32_t streamBytes) {
  std::vector<uint8_t> out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
  field(out, 'a', designField);
  field(out, 'b', part);
  field(out, 'c', "2024/05/01");
  field(out, 'd', "12:00:00");
  out.push_back('e');
  word(out, streamBytes);
  return out;
}

void appendIdcodePacket(std::vector<uint8_t>& out, uint32_t idcode) {
  word(out, 0x30018001);
  word(out, idcode);
}

void appendText(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

std::vector<uint8_t> smallBit(uint32_t idcode, size_t size) {
  std::vector<uint8_t> out = bitHeader("top;UserID=0XFFFFFFFF;Version=2022.1", "xcvu9p-flgb2104-2-i", 0);
  for (int i = 0; i < 4; ++i) word(out, 0xFFFFFFFF);
  word(out, 0x000000BB);
  word(out, 0x11220044);
  word(out, 0xFFFFFFFF);
  word(out, 0xAA995566);
  word(out, 0x20000000);
  appendIdcodePacket(out, idcode);
  while (out.size() < size) word(out, 0x20000000);
  out.resize(size);
  return out;
}

LogCapture::LogCapture() : file_(std::tmpfile()), saved_(logFile) { logFile = file_; }

LogCapture::~LogCapture() {
  logFile = saved_;
  if (file_) std::fclose(file_);
}

std::string LogCapture::text() const {
  std::lock_guard<std::mutex> hold(logMutex);
  std::fflush(file_);
  std::string out;
  std::rewind(file_);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
  std::fseek(file_, 0, SEEK_END);
  return out;
}

int LogCapture::count(const std::string& line) const {
  const std::string t = text();
  int n = 0;
  for (size_t p = t.find(line); p != std::string::npos; p = t.find(line, p + line.size())) ++n;
  return n;
}

const ChainPart kMixedChain[3] = {
    {"VU35P", "40112233445566778899AA01", 0xC0DE0035},
    {"GX2800-H", "1122334455667788", 0},
    {"VU9P", "40AABBCCDDEEFF0011223301", 0xC0DE0009},
};

std::vector<uint8_t> expectedDna(const ChainPart& p) {
  std::vector<uint8_t> hex;
  for (size_t i = 0; p.dna[i] && p.dna[i + 1]; i += 2)
    hex.push_back(static_cast<uint8_t>(std::stoul(std::string(p.dna + i, 2), nullptr, 16)));
  if (hex.size() == 12) return hex;
  // Eight bytes, most significant first: upper word hex[0..3], lower word hex[4..7].
  std::vector<uint8_t> out(4, 0);
  for (int k = 3; k >= 0; --k) out.push_back(hex[static_cast<size_t>(k)]);
  for (int k = 7; k >= 4; --k) out.push_back(hex[static_cast<size_t>(k)]);
  return out;
}

}  // namespace bittest
