// CoU without a USB controller attached: address parsing, the paths that stop a link
// for good, and discovery with nothing present (against the real libusb).
#include <gtest/gtest.h>
#include <libusb.h>

#include <memory>

#include "coe/coe_discovery.h"
#include "coe/coe_link.h"
#include "coe/coe_link_internal.h"
#include "testsupport/coe/coe_test_support.h"

using namespace coetest;

namespace {

TEST(CoUAddress, OnlyTwoDecimalNumbersAfterThePrefixParse) {
  unsigned bus = 99, addr = 99;
  EXPECT_TRUE(_VNCoEParseCoUAddress("usb://1.2", &bus, &addr));
  EXPECT_EQ(bus, 1u);
  EXPECT_EQ(addr, 2u);
  EXPECT_TRUE(_VNCoEParseCoUAddress("usb://003.127", &bus, &addr));
  EXPECT_EQ(bus, 3u);
  EXPECT_EQ(addr, 127u);
  for (const char* bad : {"usb://1.x", "usb://1.", "usb://.2", "usb://12", "usb://1.2.3", "usb://1.2 ", "usb://-1.2",
                          "usb:// 1.2", "usb://1,2", "usb://256.1", "usb://1.99999999999", "usb:/1.2", ""}) {
    EXPECT_FALSE(_VNCoEParseCoUAddress(bad, &bus, &addr)) << bad;
  }
  EXPECT_FALSE(_VNCoEParseCoUAddress(nullptr, &bus, &addr));
}

// The link thread has stopped for good: stop set, never connected, nothing more logged.
void expectStoppedAfter(const char* address, const std::string& line) {
  LogCapture& log = LogCapture::get();
  size_t mark = log.mark();
  _VNCoELink* link = VNCoELinkCreate(address, VN_COE_PORT);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->isUsb);
  ASSERT_TRUE(eventually([&] { return link->stop.load() == 1; }));
  ASSERT_TRUE(log.waitFor(mark, line));
  varn_sleep_ms(50);
  std::string text = log.since(mark);
  EXPECT_EQ(text.substr(text.size() - line.size()), line) << text;
  EXPECT_EQ(text.find("retrying"), std::string::npos);
  EXPECT_EQ(VNCoELinkIsConnected(link), 0);
  uint8_t one = 0;
  EXPECT_EQ(VNCoELinkTransaction(link, 0x1110, 1, 0x8000, &one, 1, nullptr, nullptr, nullptr, nullptr, 0),
            VN_COE_NOT_CONNECTED);
  VNCoELinkDestroy(link);
}

TEST(CoULink, InvalidAddressStopsTheLink) {
  expectStoppedAfter("usb://1.x", "ERROR: Invalid CoU address usb://1.x\n");
}

TEST(CoULink, DeviceThatIsNotPresentStopsTheLink) {
  expectStoppedAfter("usb://1.2", "ERROR: CoU Engine could not find usb://1.2\n");
}

// Every IN completion other than "completed" is logged, time-outs of an idle
// controller included, and hands the link thread what arrived.
TEST(CoULink, ReadCompletionLogsEveryStatusButCompleted) {
  LogCapture& log = LogCapture::get();
  std::unique_ptr<_VNCoELink> link(new _VNCoELink());
  libusb_transfer* transfer = libusb_alloc_transfer(0);
  ASSERT_NE(transfer, nullptr);
  transfer->user_data = link.get();

  size_t mark = log.mark();
  transfer->status = LIBUSB_TRANSFER_TIMED_OUT;
  transfer->actual_length = 0;
  usbReadCb(transfer);
  EXPECT_EQ(link->usbReadDone.load(), 1);
  EXPECT_EQ(link->usbReadLength, 0);
  transfer->status = LIBUSB_TRANSFER_ERROR;
  usbReadCb(transfer);
  EXPECT_EQ(log.since(mark), "RX Transfer Status: 2\nRX Transfer Status: 1\n");

  link->usbReadDone = 0;
  mark = log.mark();
  transfer->status = LIBUSB_TRANSFER_COMPLETED;
  transfer->actual_length = 12;
  usbReadCb(transfer);
  EXPECT_EQ(link->usbReadDone.load(), 1);
  EXPECT_EQ(link->usbReadLength, 12);
  EXPECT_EQ(link->usbReadStatus, LIBUSB_TRANSFER_COMPLETED);
  EXPECT_EQ(log.since(mark), "");
  libusb_free_transfer(transfer);
}

TEST(CoUDiscovery, NothingPresentGivesCountZeroAndLogsNothing) {
  LogCapture& log = LogCapture::get();
  VARNJtagCleanup();  // without a prior discovery: nothing to end
  size_t mark = log.mark();
  char addressStore[2][VARN_COU_ADDRESS_SIZE] = {"x", "x"};
  char descriptionStore[2][VARN_COU_DESCRIPTION_SIZE] = {"x", "x"};
  char* addresses[2] = {addressStore[0], addressStore[1]};
  char* descriptions[2] = {descriptionStore[0], descriptionStore[1]};
  uint8_t flags[2] = {9, 9};
  uint32_t count = 77;
  EXPECT_EQ(VARNJtagDiscoverCoUDevices(addresses, descriptions, flags, &count, 2), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(addressStore[0], "x");
  EXPECT_EQ(flags[0], 9);
  // A second discovery reuses the context; clean-up ends it, and a later discovery starts it again.
  EXPECT_EQ(VARNJtagDiscoverCoUDevices(addresses, descriptions, flags, &count, 2), 0);
  VARNJtagCleanup();
  VARNJtagCleanup();
  EXPECT_EQ(VARNJtagDiscoverCoUDevices(addresses, descriptions, flags, &count, 0), 0);
  EXPECT_EQ(count, 0u);
  VARNJtagCleanup();
  EXPECT_EQ(log.since(mark), "");
  count = 5;
  EXPECT_EQ(VARNJtagDiscoverCoEDevices(addresses, descriptions, flags, &count, 2), 0);
  EXPECT_EQ(count, 0u);
}

}  // namespace
