#include <gtest/gtest.h>

#include <string>

#include "app/discovery/ftdi_classify.h"

namespace {

TEST(FtdiClassify, UartPorts) {
  EXPECT_TRUE(VARNFtdiIsUart("Dual RS232-HS B", "FT5ABC1B"));
  EXPECT_TRUE(VARNFtdiIsUart("Quad RS232-HS C", "FT4Q"));
  EXPECT_TRUE(VARNFtdiIsUart("Quad RS232-HS D", ""));
  EXPECT_FALSE(VARNFtdiIsUart("Dual RS232-HS A", "FT5ABC1A"));
  EXPECT_FALSE(VARNFtdiIsUart("", "AL123"));
  EXPECT_FALSE(VARNFtdiIsUart("Single RS232-HS", "FTXYZ"));
  EXPECT_FALSE(VARNFtdiIsUart("Db", "X")) << "only upper-case channel letters";
  EXPECT_TRUE(VARNFtdiIsUart("CVP UART Port", "AL0042"));
  EXPECT_FALSE(VARNFtdiIsUart("CVP UART Port", "XAL0042")) << "AL must begin the serial";
  EXPECT_FALSE(VARNFtdiIsUart("CVP Port", "AL0042"));
  EXPECT_FALSE(VARNFtdiIsUart(nullptr, nullptr));
}

TEST(FtdiClassify, JtagProductsByLowHalfOnly) {
  EXPECT_TRUE(VARNFtdiIsJtag(0x04036010));
  EXPECT_TRUE(VARNFtdiIsJtag(0x04036011));
  EXPECT_TRUE(VARNFtdiIsJtag(0x04036014));
  EXPECT_TRUE(VARNFtdiIsJtag(0x12346014)) << "the vendor half is not checked";
  EXPECT_FALSE(VARNFtdiIsJtag(0x04036001));
  EXPECT_FALSE(VARNFtdiIsJtag(0x60140403));
}

TEST(FtdiClassify, SerialFilter) {
  char matched[16] = "untouched";
  EXPECT_TRUE(VARNSerialMatchesFilter("ZKQ4T00ABC1A", ",ABC", matched, sizeof(matched)));
  EXPECT_STREQ(matched, "ABC");
  EXPECT_TRUE(VARNSerialMatchesFilter("FT123", "XYZ,,123", matched, sizeof(matched)));
  EXPECT_STREQ(matched, "123") << "the first piece that occurs is reported";
  EXPECT_TRUE(VARNSerialMatchesFilter("FT123", "FT,123", matched, sizeof(matched)));
  EXPECT_STREQ(matched, "FT");
  EXPECT_FALSE(VARNSerialMatchesFilter("FT123", "ft,456", matched, sizeof(matched)));
  EXPECT_FALSE(VARNSerialMatchesFilter("FT123", ",", matched, sizeof(matched)));
  EXPECT_FALSE(VARNSerialMatchesFilter("FT123", "", matched, sizeof(matched)));
  EXPECT_FALSE(VARNSerialMatchesFilter("", "A", matched, sizeof(matched)));
  EXPECT_FALSE(VARNSerialMatchesFilter("FT123", nullptr, matched, sizeof(matched)));
  // A long piece is reported cut to the buffer, never past it.
  std::string longSerial(40, 'Q');
  char small[5];
  EXPECT_TRUE(VARNSerialMatchesFilter(longSerial.c_str(), std::string(30, 'Q').c_str(), small, sizeof(small)));
  EXPECT_STREQ(small, "QQQQ");
  EXPECT_TRUE(VARNSerialMatchesFilter("ABC", "B", nullptr, 0));
}

TEST(FtdiClassify, UartBelongsToBoardBySerialLessChannelLetter) {
  char board[16] = "FT5ABC1";
  EXPECT_TRUE(VARNUartBelongsToBoard(board, "FT5ABC1B"));
  EXPECT_FALSE(VARNUartBelongsToBoard(board, "FT5ABC1"));
  EXPECT_FALSE(VARNUartBelongsToBoard(board, "FT5ABC2B"));
  EXPECT_FALSE(VARNUartBelongsToBoard(board, "FT5ABC1BB"));
  // Channel A of a chip registered as the board; its channels B to D are the UARTs.
  char channelA[16] = "FT5ABC1A";
  EXPECT_TRUE(VARNUartBelongsToBoard(channelA, "FT5ABC1B"));
  EXPECT_TRUE(VARNUartBelongsToBoard(channelA, "FT5ABC1D"));
  EXPECT_FALSE(VARNUartBelongsToBoard(channelA, "FT5ABC1A"));
  EXPECT_FALSE(VARNUartBelongsToBoard(channelA, "FT5ABC2B"));
  EXPECT_FALSE(VARNUartBelongsToBoard(channelA, "FT5ABC1E"));
  // A single-channel chip whose serial merely ends like another chip's is no sibling.
  char single[16] = "FT5ABC12";
  EXPECT_FALSE(VARNUartBelongsToBoard(single, "FT5ABC1B"));
  char empty[16] = {};
  EXPECT_FALSE(VARNUartBelongsToBoard(empty, "B"));
  // A stored serial of 16 characters has no terminator inside the entry.
  char full[16];
  for (char& c : full) c = 'S';
  EXPECT_TRUE(VARNUartBelongsToBoard(full, std::string(16, 'S').append("B").c_str()));
  EXPECT_FALSE(VARNUartBelongsToBoard(full, std::string(15, 'S').append("B").c_str()));
}

}  // namespace
