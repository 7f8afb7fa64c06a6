// How chips turn into device-list entries: channel serials and descriptions as the
// vendor driver shows them, IDs, types and flags.
#include <gtest/gtest.h>

#include <cstring>

#include "ftdi/d2xx_device_list.h"
#include "ftdi/d2xx_names.h"
#include "testsupport/ftdi/fake_usb.h"

using namespace varn_d2xx;
using varn_d2xx_test::makeChip;

TEST(ChannelNames, SerialGetsTheLetterWithoutSpace) {
  char out[FT_SERIAL_SIZE];
  channelSerial("FT1234AB", 0, 2, out);
  EXPECT_STREQ(out, "FT1234ABA");
  channelSerial("FT1234AB", 3, 4, out);
  EXPECT_STREQ(out, "FT1234ABD");
  // No serial string at all: the channel letter alone.
  channelSerial("", 1, 2, out);
  EXPECT_STREQ(out, "B");
  channelSerial(nullptr, 0, 2, out);
  EXPECT_STREQ(out, "A");
  // A single-channel chip keeps its serial as it is.
  channelSerial("FT5XYZ", 0, 1, out);
  EXPECT_STREQ(out, "FT5XYZ");
}

TEST(ChannelNames, LongSerialsKeepFourteenCharactersBeforeTheLetter) {
  char out[FT_SERIAL_SIZE];
  memset(out, 'x', sizeof out);
  channelSerial("ABCDEFGHIJKLMN", 1, 2, out);  // exactly 14
  EXPECT_STREQ(out, "ABCDEFGHIJKLMNB");
  channelSerial("ABCDEFGHIJKLMNOPQRST", 2, 4, out);
  EXPECT_STREQ(out, "ABCDEFGHIJKLMNC");
  EXPECT_EQ(strlen(out), size_t(FT_SERIAL_SIZE - 1));
  channelSerial("ABCDEFGHIJKLMNOPQRST", 0, 1, out);
  EXPECT_STREQ(out, "ABCDEFGHIJKLMNO");
}

TEST(ChannelNames, DescriptionGetsSpaceAndLetterOnMultiChannelChipsOnly) {
  char out[FT_DESCRIPTION_SIZE];
  channelDescription("Dual RS232-HS", 1, 2, out);
  EXPECT_STREQ(out, "Dual RS232-HS B");
  channelDescription("Quad RS232-HS", 3, 4, out);
  EXPECT_STREQ(out, "Quad RS232-HS D");
  channelDescription("Single RS232-HS", 0, 1, out);
  EXPECT_STREQ(out, "Single RS232-HS");
  // An over-long product text is cut so that the suffix still ends the text.
  std::string longText(100, 'd');
  channelDescription(longText.c_str(), 2, 4, out);
  EXPECT_EQ(strlen(out), size_t(FT_DESCRIPTION_SIZE - 1));
  EXPECT_EQ(std::string(out + FT_DESCRIPTION_SIZE - 3), " C");
}

TEST(ChannelNames, IdTypeAndChannelCounts) {
  EXPECT_EQ(deviceId(0x0403, 0x6010), 0x04036010u);
  EXPECT_EQ(deviceType(0x0700), FT_DEVICE_2232H);
  EXPECT_EQ(deviceType(0x0800), FT_DEVICE_4232H);
  EXPECT_EQ(deviceType(0x0900), FT_DEVICE_232H);
  EXPECT_EQ(deviceType(0x0600), FT_DEVICE_232R);
  EXPECT_EQ(deviceType(0x1000), FT_DEVICE_UNKNOWN);
  EXPECT_EQ(channelCount(kPidFt232H, 0), 1);
  EXPECT_EQ(channelCount(kPidFt2232H, 0), 2);
  EXPECT_EQ(channelCount(kPidFt4232H, 0), 4);
  EXPECT_EQ(channelCount(kPidFt4232H, 2), 2);  // the descriptor wins when plausible
  EXPECT_EQ(channelCount(kPidFt2232H, 9), 2);
  EXPECT_TRUE(isSupportedProduct(0x0403, 0x6014));
  EXPECT_FALSE(isSupportedProduct(0x0403, 0x6001));
  EXPECT_FALSE(isSupportedProduct(0x1234, 0x6010));
}

TEST(DeviceList, OneEntryPerChannelInBusOrder) {
  std::vector<UsbChip> chips = {
      makeChip(1, 4, kPidFt4232H, "FTQUAD", "Quad RS232-HS"),
      makeChip(1, 5, 0x6001, "FTOLD", "FT232R USB UART"),  // not a supported product
      makeChip(2, 7, kPidFt232H, "FTSGL", "Single RS232-HS"),
      makeChip(3, 2, kPidFt2232H, "", "Dual RS232-HS"),
  };
  chips[2].highSpeed = false;
  auto list = expandChannels(chips);
  ASSERT_EQ(list.size(), 7u);
  const char* serials[] = {"FTQUADA", "FTQUADB", "FTQUADC", "FTQUADD", "FTSGL", "A", "B"};
  const char* descriptions[] = {"Quad RS232-HS A", "Quad RS232-HS B", "Quad RS232-HS C", "Quad RS232-HS D",
                                "Single RS232-HS", "Dual RS232-HS A", "Dual RS232-HS B"};
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_STREQ(list[i].serial, serials[i]) << i;
    EXPECT_STREQ(list[i].description, descriptions[i]) << i;
  }
  EXPECT_EQ(list[0].id, 0x04036011u);
  EXPECT_EQ(list[0].type, FT_DEVICE_4232H);
  EXPECT_EQ(list[3].channel, 3);
  EXPECT_EQ(list[4].id, 0x04036014u);
  EXPECT_EQ(list[4].type, FT_DEVICE_232H);
  EXPECT_EQ(list[4].flags, 0u);
  EXPECT_EQ(list[5].flags, DWORD(FT_FLAGS_HISPEED));
  EXPECT_NE(list[5].locId, list[6].locId);
}
