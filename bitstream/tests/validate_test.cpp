// Choosing and checking a bitstream file for a device: extensions, the identification
// packet and the encrypted-part marker within the first 1024 bytes, and list selection.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "bitstream/tests/fake_tap.h"
#include "bitstream/tests/test_files.h"
#include "bitstream/varn_bitstream.h"
#include "jtag/jtag_tables.h"

using bittest::LogCapture;
using bittest::TempDir;

namespace {

constexpr uint32_t kVU9P = 0x04B31093, kVU35P = 0x04B71093, kVU13P = 0x04B51093;

size_t openFiles() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

std::vector<uint8_t> filler(size_t n, uint8_t value = 0x00) { return std::vector<uint8_t>(n, value); }

// Header text fields carry the encryption marker in real encrypted files.
std::vector<uint8_t> encryptedBit(const std::string& design, const std::string& part) {
  std::vector<uint8_t> out = bittest::bitHeader(design, part, 64);
  std::vector<uint8_t> body = filler(64, 0xFF);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

class Validate : public ::testing::Test {
 protected:
  TempDir dir;
  VARNJtag vu9p = faketap::makeHandle({JTAG_DEV_VU9P}, false);
  VARNJtag vu13p = faketap::makeHandle({JTAG_DEV_VU13P}, false);
  VARNJtag vu35p = faketap::makeHandle({JTAG_DEV_VU35P}, false);
  VARNJtag intel = faketap::makeHandle({JTAG_DEV_GX2800H}, false);
};

TEST_F(Validate, IndexAndRowComeFirst) {
  const std::string good = dir.write("good.bit", bittest::smallBit(kVU9P));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 1, good.c_str()), 4);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 7, good.c_str()), 4);
  VARNJtag unknown = faketap::makeHandle({-1}, false);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&unknown, 0, good.c_str()), 2);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, good.c_str()), 0);
}

TEST_F(Validate, ExtensionsAreCaseSensitiveAndNeverOpenAnRbf) {
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&intel, 0, dir.path("absent.rbf").c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&intel, 0, ".rbf"), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&intel, 0, "rbf"), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&intel, 0, "design.RBF"), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&intel, 0, "design.bit"), 7);

  const std::string upper = dir.write("good.BIT", bittest::smallBit(kVU9P));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, upper.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, "bit"), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, ""), 7);
  const std::string rbf = dir.write("for_intel.rbf", bittest::smallBit(kVU9P));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, rbf.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.path("absent.bit").c_str()), 8);
}

TEST_F(Validate, IdentificationPacketDecidesIgnoringTheVersionField) {
  const std::string vu9pFile = dir.write("vu9p.bit", bittest::smallBit(kVU9P));
  const std::string vu35pFile = dir.write("vu35p.bit", bittest::smallBit(kVU35P));
  const std::string version1 = dir.write("v1.bit", bittest::smallBit(0x14B31093));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, vu9pFile.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, vu35pFile.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu35p, 0, vu35pFile.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, version1.c_str()), 0);
  // The scanned IDCODE carries a version too (silicon revision).
  vu9p.idcodes[0] = 0x24B31093;
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, vu9pFile.c_str()), 0);
  // Only the top four bits are ignored.
  const std::string nearby = dir.write("near.bit", bittest::smallBit(0x04B31092));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, nearby.c_str()), 7);
}

TEST_F(Validate, OnlyTheFirst1024BytesAreSearched) {
  // The packet's last IDCODE byte is byte 1024 of the file: found.
  std::vector<uint8_t> at1024 = filler(1016);
  bittest::appendIdcodePacket(at1024, kVU9P);
  ASSERT_EQ(at1024.size(), 1024u);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("at1024.bit", at1024).c_str()), 0);
  // One byte later: not found, nothing identified.
  std::vector<uint8_t> at1025 = filler(1017);
  bittest::appendIdcodePacket(at1025, kVU9P);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("at1025.bit", at1025).c_str()), 4);
  // A header longer than 1024 bytes hides the stream's identification.
  std::vector<uint8_t> longHeader = bittest::bitHeader(std::string(1100, 'x'), "xcvu9p-flgb2104-2-i", 0);
  std::vector<uint8_t> tail = bittest::smallBit(kVU9P);
  longHeader.insert(longHeader.end(), tail.begin(), tail.end());
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("long.bit", longHeader).c_str()), 4);
  // The encryption marker's third part character as byte 1024 / 1025.
  std::vector<uint8_t> enc1024 = filler(1024 - 16);
  bittest::appendText(enc1024, "ENCRYPT=Yxcvu9p-");
  ASSERT_EQ(enc1024.size(), 1024u);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("enc1024.bit", enc1024).c_str()), 0);
  std::vector<uint8_t> enc1025 = filler(1024 - 15);
  bittest::appendText(enc1025, "ENCRYPT=Yxcvu9p-");
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("enc1025.bit", enc1025).c_str()), 4);
}

TEST_F(Validate, ABrokenPatternRestartsWithoutRetryingTheBreakingByte) {
  std::vector<uint8_t> doubled = {0x30, 0x30, 0x01, 0x80, 0x01, 0x04, 0xB3, 0x10, 0x93};
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("doubled.bit", doubled).c_str()), 4);
  std::vector<uint8_t> cut = {0x30, 0x01, 0x80, 0x30, 0x01, 0x80, 0x01, 0x04, 0xB3, 0x10, 0x93};
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("cut.bit", cut).c_str()), 4);
  // After the break the next clean packet is found.
  std::vector<uint8_t> later = doubled;
  bittest::appendIdcodePacket(later, kVU9P);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("later.bit", later).c_str()), 0);
  // The IDCODE bytes are taken whatever they are, even pattern bytes.
  std::vector<uint8_t> odd = {0x30, 0x01, 0x80, 0x01, 0x30, 0x01, 0x80, 0x01};
  VARNJtag oddDevice = vu9p;
  oddDevice.idcodes[0] = 0x30018001;
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&oddDevice, 0, dir.write("odd.bit", odd).c_str()), 0);
  // An empty file identifies nothing; a folder (like a FIFO or a device) is no file.
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("empty.bit", {}).c_str()), 4);
  ASSERT_TRUE(std::filesystem::create_directory(dir.path("folder.bit")));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.path("folder.bit").c_str()), 8);
}

TEST_F(Validate, EncryptedFilesAreToldByPartName) {
  LogCapture log;
  const std::string yes = dir.write("yes.bit", encryptedBit("top;ENCRYPT=YES;Version=2022.1", "xcvu9p-flgb2104-2-i"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, yes.c_str()), 0);
  EXPECT_EQ(log.count("Encrypted bit for 9p-\n"), 1);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu13p, 0, yes.c_str()), 7);

  const std::string vu13 = dir.write("vu13.bit", encryptedBit("top;ENCRYPT=Y", "xcvu13p-fhga2104-2-e"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu13p, 0, vu13.c_str()), 0);
  const std::string vu35 = dir.write("vu35.bit", encryptedBit("top;ENCRYPT=Y", "xcvu35p-fsvh2892-2-e"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu35p, 0, vu35.c_str()), 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, vu35.c_str()), 7);

  // A part without a row: the comparison fails.
  const std::string vu7 = dir.write("vu7.bit", encryptedBit("top;ENCRYPT=Y", "xcvu7p-flva2104-2-e"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, vu7.c_str()), 7);
  EXPECT_EQ(log.count("Encrypted bit for 7p-\n"), 1);

  // Neither mixed case nor a part name before the marker counts.
  const int logged = log.count("Encrypted bit for");
  const std::string mixed = dir.write("mixed.bit", encryptedBit("top;Encrypt=Yes", "xcvu9p-flgb2104-2-i"));
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, mixed.c_str()), 4);
  std::vector<uint8_t> before = bittest::bitHeader("xcvu9p;ENCRYPT=Y", "part", 0);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.write("before.bit", before).c_str()), 4);
  EXPECT_EQ(log.count("Encrypted bit for"), logged);
}

TEST_F(Validate, AnIdentificationPacketBeforeTheMarkerDecidesAlone) {
  LogCapture log;
  std::vector<uint8_t> bytes = bittest::smallBit(kVU35P, 256);
  bittest::appendText(bytes, "ENCRYPT=Y xcvu9p-");
  const std::string path = dir.write("packet_first.bit", bytes);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, path.c_str()), 7);
  EXPECT_EQ(VARNJtagBitstreamIsValidForDevice(&vu35p, 0, path.c_str()), 0);
  EXPECT_EQ(log.count("Encrypted bit for"), 0);
}

TEST_F(Validate, TheFileIsClosedOnEveryPath) {
  const std::string ok = dir.write("ok.bit", bittest::smallBit(kVU9P));
  const std::string other = dir.write("other.bit", bittest::smallBit(kVU35P));
  const std::string none = dir.write("none.bit", filler(2000, 0xAB));
  const std::string enc = dir.write("enc.bit", encryptedBit("ENCRYPT=Y", "xcvu9p"));
  LogCapture log;
  const size_t before = openFiles();
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, ok.c_str()), 0) << i;
    ASSERT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, other.c_str()), 7) << i;
    ASSERT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, none.c_str()), 4) << i;
    ASSERT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, enc.c_str()), 0) << i;
    ASSERT_EQ(VARNJtagBitstreamIsValidForDevice(&vu9p, 0, dir.path("absent.bit").c_str()), 8) << i;
  }
#ifndef _WIN32
  EXPECT_EQ(openFiles(), before);
#else
  // Under wine /proc/self/fd is the emulator's own, which opens descriptors as it
  // pleases; the closing is the same code as on Linux, where this is checked.
  (void)before;
#endif
}

TEST_F(Validate, EachDeviceChoosesItsOwnFileFromTheList) {
  TempDir here;
  const std::string a = here.write("a.bit", bittest::smallBit(kVU35P));
  const std::string b = here.write("b.bit", bittest::smallBit(kVU9P));
  const std::string c = here.path("c.rbf");
  const std::string list = a + "," + b + "," + c;
  VARNJtag board = faketap::makeHandle({JTAG_DEV_VU9P, JTAG_DEV_GX2800H}, false);
  char chosen[4096];
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 0, list.c_str(), chosen, sizeof chosen), 0);
  EXPECT_EQ(std::string(chosen), b);
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 1, list.c_str(), chosen, sizeof chosen), 0);
  EXPECT_EQ(std::string(chosen), c);

  // Both entries suit: the first in list order wins.
  const std::string b2 = here.write("b2.bit", bittest::smallBit(kVU9P));
  const std::string twice = b2 + "," + b;
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 0, twice.c_str(), chosen, sizeof chosen), 0);
  EXPECT_EQ(std::string(chosen), b2);

  // Nothing suits: the whole text is the choice, and its check says why.
  const std::string none = a + "," + c;
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 0, none.c_str(), chosen, sizeof chosen), 7);
  EXPECT_EQ(std::string(chosen), none);
  // Without a comma the text is the choice as it stands.
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 0, a.c_str(), chosen, sizeof chosen), 7);
  EXPECT_EQ(std::string(chosen), a);
  // Empty entries are skipped, and a short output buffer is never overrun.
  const std::string gaps = std::string(",,") + b;
  EXPECT_EQ(VARNBitstreamChooseFile(&board, 0, gaps.c_str(), chosen, sizeof chosen), 0);
  EXPECT_EQ(std::string(chosen), b);
  char tiny[6];
  VARNBitstreamChooseFile(&board, 0, none.c_str(), tiny, sizeof tiny);
  EXPECT_EQ(std::string(tiny), none.substr(0, 5));
}

}  // namespace
