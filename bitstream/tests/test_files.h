// Files for the bitstream tests: a private temporary folder, small .bit images built
// byte by byte, and a capture of the program log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bittest {

// A folder under the system's temporary directory, removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::string dir_;
};

// The .bit file header: the fixed 13 bytes, fields a-d, then the 'e' length.
std::vector<uint8_t> bitHeader(const std::string& designField, const std::string& part, uint32_t streamBytes);
// The configuration packet that writes one word to the IDCODE register.
void appendIdcodePacket(std::vector<uint8_t>& out, uint32_t idcode);
// A small .bit image: header, sync, IDCODE write, and padding up to size bytes.
std::vector<uint8_t> smallBit(uint32_t idcode, size_t size = 256);
// Text bytes.
void appendText(std::vector<uint8_t>& out, const std::string& text);

// A chain of three different parts, from the TDI side, each with an identity of its
// own, so a read or a load that reaches the wrong chip shows. `dna` is the board
// file's dna= text (Intel: the 64-bit chip ID); `usercode` the one the part's
// bitstream writes (none for the Intel part).
struct ChainPart {
  const char* part;
  const char* dna;
  uint32_t usercode;
};
extern const ChainPart kMixedChain[3];
// The 12 bytes VARNJtagGetDNA gives for a part of that chain: a Xilinx DNA most
// significant byte first; the Intel chip ID as four zero bytes, then its upper and its
// lower 32 bits, each least significant byte first.
std::vector<uint8_t> expectedDna(const ChainPart& p);

// While alive, the program log also goes into a file that text() reads back.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::string text() const;
  int count(const std::string& line) const;

 private:
  std::FILE* file_;
  std::FILE* saved_;
};

}  // namespace bittest
