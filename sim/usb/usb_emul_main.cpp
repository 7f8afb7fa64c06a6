// varn_usb_emul BOARDS.txt: the FTDI chips of a board description as USB devices
// under umockdev, for running the real driver stack (libftdi1, libusb) against them.
// Prints "UMOCKDEV_DIR=<dir>" once the devices are in place; a program started with
// that variable and LD_PRELOAD=libumockdev-preload.so.0 sees them. SIGUSR1 takes every
// device off the bus (as pulling the cable would); SIGTERM, SIGINT and SIGHUP end the
// program and remove the testbed.
#include <glib-unix.h>
#include <umockdev.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/d2xx/sim_registry.h"
#include "sim/usb/usbfs_device.h"

using namespace varnsim;

namespace {

std::vector<std::unique_ptr<UsbfsDevice>> gDevices;
GMainLoop* gLoop = nullptr;

gboolean onUnplug(gpointer) {
  for (auto& d : gDevices) {
    d->unplug();
    std::printf("unplugged %s\n", d->devnode().c_str());
  }
  std::fflush(stdout);
  return G_SOURCE_CONTINUE;
}

gboolean onQuit(gpointer) {
  g_main_loop_quit(gLoop);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: varn_usb_emul BOARDS.txt\n");
    return 2;
  }
  Registry& reg = Registry::get();
  if (reg.loadFile(argv[1]) != 0) {
    std::fprintf(stderr, "varn_usb_emul: %s\n", reg.lastError().c_str());
    return 1;
  }
  UMockdevTestbed* testbed = umockdev_testbed_new();
  // Channels of one chip follow each other in the registry, channel A first.
  std::vector<std::shared_ptr<ChannelEntry>> chip;
  auto flush = [&] {
    if (chip.empty()) return;
    const int address = static_cast<int>(gDevices.size()) + 2;
    gDevices.push_back(std::make_unique<UsbfsDevice>(testbed, std::make_unique<FtdiUsbChip>(chip), 1, address));
    chip.clear();
  };
  for (size_t i = 0; i < reg.count(); ++i) {
    std::shared_ptr<ChannelEntry> e = reg.entry(i);
    if (e->index == 0) flush();
    chip.push_back(e);
  }
  flush();
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  std::printf("UMOCKDEV_DIR=%s\n", root);
  std::fflush(stdout);
  g_free(root);
  gLoop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGUSR1, onUnplug, nullptr);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, onQuit, nullptr);
  g_main_loop_run(gLoop);
  gDevices.clear();
  g_object_unref(testbed);
  return 0;
}
