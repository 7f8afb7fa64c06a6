// The real USB layer: chips are found with libusb, channels are opened and set up
// with libftdi1 (1.5), and the data moves by plain libusb bulk transfers so that
// exact counts and partial time-outs are seen (ftdi_read_data/ftdi_write_data lose
// both).
#include <ftdi.h>
#include <libusb.h>

#include <cstdio>
#include <cstring>

#include "ftdi/d2xx_names.h"
#include "ftdi/d2xx_usb.h"
#include "ftdi/ftd2xx.h"

namespace varn_d2xx {

namespace {

// libusb and libftdi1 hand out static texts, so a pointer per thread is enough and
// the reader thread never races the caller's thread over it.
thread_local const char* tError = "no error";

class LibftdiChannel final : public UsbChannel {
 public:
  explicit LibftdiChannel(ftdi_context* ctx) : ctx_(ctx) {}
  ~LibftdiChannel() override {
    ftdi_usb_close(ctx_);
    ftdi_free(ctx_);
  }

  unsigned maxPacketSize() override { return ctx_->max_packet_size; }

  // libftdi1 names the endpoints from the chip's side: out_ep is the bulk IN
  // endpoint the host reads, in_ep the bulk OUT endpoint it writes.
  int bulkRead(uint8_t* buf, int len, int* transferred, unsigned timeoutMs) override {
    *transferred = 0;
    int rc = libusb_bulk_transfer(ctx_->usb_dev, uint8_t(ctx_->out_ep), buf, len, transferred, timeoutMs);
    // A stalled endpoint stays stalled until cleared; the reader's next try then works.
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(ctx_->usb_dev, uint8_t(ctx_->out_ep));
    return usbResult(rc);
  }

  int bulkWrite(const uint8_t* buf, int len, int* transferred, unsigned timeoutMs) override {
    *transferred = 0;
    int rc = libusb_bulk_transfer(ctx_->usb_dev, uint8_t(ctx_->in_ep), const_cast<uint8_t*>(buf), len, transferred,
                                  timeoutMs);
    if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(ctx_->usb_dev, uint8_t(ctx_->in_ep));
    return usbResult(rc);
  }

  int setBitMode(uint8_t mask, uint8_t mode) override { return ftdiResult(ftdi_set_bitmode(ctx_, mask, mode), -2); }
  int setLatencyTimer(uint8_t ms) override { return ftdiResult(ftdi_set_latency_timer(ctx_, ms), -3); }

  int setBaudRate(uint32_t baud) override {
    int rc = ftdi_set_baudrate(ctx_, int(baud > 0x7FFFFFFF ? 0x7FFFFFFF : baud));
    if (rc == -1) {
      tError = ftdi_get_error_string(ctx_);
      return kUsbBadRate;
    }
    return ftdiResult(rc, -3);
  }

  int setLineProperty(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
    return ftdiResult(ftdi_set_line_property(ctx_, ftdi_bits_type(bits), ftdi_stopbits_type(stopBits),
                                             ftdi_parity_type(parity)),
                      -2);
  }

  int setFlowControl(uint16_t flow, uint8_t xon, uint8_t xoff) override {
    switch (flow) {
      case FT_FLOW_XON_XOFF: return ftdiResult(ftdi_setflowctrl_xonxoff(ctx_, xon, xoff), -2);
      case FT_FLOW_RTS_CTS: return ftdiResult(ftdi_setflowctrl(ctx_, SIO_RTS_CTS_HS), -2);
      case FT_FLOW_DTR_DSR: return ftdiResult(ftdi_setflowctrl(ctx_, SIO_DTR_DSR_HS), -2);
      default: return ftdiResult(ftdi_setflowctrl(ctx_, SIO_DISABLE_FLOW_CTRL), -2);
    }
  }

  int purgeRx() override { return ftdiResult(ftdi_tciflush(ctx_), -2); }
  int purgeTx() override { return ftdiResult(ftdi_tcoflush(ctx_), -2); }

  int setChunkSizes(unsigned inSize, unsigned outSize) override {
    int rc = ftdi_read_data_set_chunksize(ctx_, inSize);
    if (rc == 0) rc = ftdi_write_data_set_chunksize(ctx_, outSize);
    return ftdiResult(rc, 1);
  }

  const char* errorText() override { return tError; }

 private:
  static int usbResult(int rc) {
    if (rc != LIBUSB_SUCCESS) tError = libusb_error_name(rc);
    return rc;  // kUsb* keep libusb's numbers
  }

  // libftdi1 returns its own small negative codes per call; noDevice is the one
  // that call uses for "USB device unavailable".
  int ftdiResult(int rc, int noDevice) {
    if (rc >= 0) return kUsbOk;
    tError = ftdi_get_error_string(ctx_);
    return rc == noDevice ? kUsbNoDevice : kUsbIoError;
  }

  ftdi_context* ctx_;
};

class LibftdiBus final : public UsbBus {
 public:
  int findChips(std::vector<UsbChip>& out) override {
    out.clear();
    libusb_context* usb = nullptr;
    int rc = libusb_init(&usb);
    if (rc != LIBUSB_SUCCESS) {
      tError = libusb_error_name(rc);
      return kUsbUnavailable;
    }
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(usb, &devices);
    if (count < 0) {
      tError = libusb_error_name(int(count));
      libusb_exit(usb);
      return int(count);
    }
    for (ssize_t i = 0; i < count; ++i) {
      UsbChip chip;
      if (describe(devices[i], chip)) out.push_back(chip);
    }
    libusb_free_device_list(devices, 1);
    libusb_exit(usb);
    return kUsbOk;
  }

  int openChannel(const UsbChip& chip, int channel, std::unique_ptr<UsbChannel>& out) override {
    ftdi_context* ctx = ftdi_new();
    if (!ctx) {
      tError = "ftdi_new() failed (libusb could not start)";
      return kUsbIoError;
    }
    // The interface must be chosen before opening: on an open device libftdi1 refuses.
    int rc = ftdi_set_interface(ctx, ftdi_interface(INTERFACE_A + channel));
    if (rc == 0) rc = ftdi_usb_open_bus_addr(ctx, chip.bus, chip.address);
    if (rc != 0) {
      tError = ftdi_get_error_string(ctx);
      ftdi_free(ctx);
      // ftdi_usb_open_bus_addr: -3 no device there, -4 libusb_open failed (in practice
      // no write access to the device node), -5 interface claimed by someone else.
      switch (rc) {
        case -3: return kUsbNoDevice;
        case -4: return kUsbAccessDenied;
        case -5: return kUsbBusy;
        default: return kUsbIoError;
      }
    }
    // The address may have been reused by another device since the listing.
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(libusb_get_device(ctx->usb_dev), &desc) != 0 || desc.idVendor != chip.vid ||
        desc.idProduct != chip.pid) {
      tError = "another device now has this bus address";
      ftdi_usb_close(ctx);
      ftdi_free(ctx);
      return kUsbNoDevice;
    }
    out = std::make_unique<LibftdiChannel>(ctx);
    return kUsbOk;
  }

  const char* errorText() override { return tError; }

 private:
  // Fills chip for a supported FTDI product; false for any other device.
  static bool describe(libusb_device* dev, UsbChip& chip) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(dev, &desc) != 0) return false;
    if (!isSupportedProduct(desc.idVendor, desc.idProduct)) return false;
    chip.bus = libusb_get_bus_number(dev);
    chip.address = libusb_get_device_address(dev);
    chip.vid = desc.idVendor;
    chip.pid = desc.idProduct;
    chip.bcdDevice = desc.bcdDevice;
    chip.highSpeed = libusb_get_device_speed(dev) >= LIBUSB_SPEED_HIGH;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) == 0) {
      chip.interfaces = config->bNumInterfaces;
      libusb_free_config_descriptor(config);
    }
    // The strings need the device opened. A string index of 0 means the chip has no
    // such string (an EEPROM without a serial): asking for it would fail, so skip it.
    if (desc.iSerialNumber == 0 && desc.iProduct == 0) return true;
    libusb_device_handle* h = nullptr;
    int rc = libusb_open(dev, &h);
    if (rc != 0) {
      fprintf(stderr,
              "varn_ftd2xx: cannot read the names of the FTDI chip at bus %u device %u: %s "
              "(check write access to /dev/bus/usb/%03u/%03u)\n",
              unsigned(chip.bus), unsigned(chip.address), libusb_error_name(rc), unsigned(chip.bus),
              unsigned(chip.address));
      return true;  // listed without names; opening it will say why it fails
    }
    readString(h, desc.iSerialNumber, chip.serial, sizeof chip.serial);
    readString(h, desc.iProduct, chip.description, sizeof chip.description);
    libusb_close(h);
    return true;
  }

  static void readString(libusb_device_handle* h, uint8_t index, char* out, int size) {
    out[0] = '\0';
    if (index == 0) return;
    int n = libusb_get_string_descriptor_ascii(h, index, reinterpret_cast<unsigned char*>(out), size);
    out[n > 0 ? (n < size ? n : size - 1) : 0] = '\0';
  }
};

}  // namespace

UsbBus& linkedBus() {
  static LibftdiBus bus;
  return bus;
}

}  // namespace varn_d2xx
