// One FPGA's cell. Labels go down first and the values over their placeholders, so a
// value that is shorter than its placeholder still leaves the line's layout intact.
#include <cstdio>
#include <cstring>

#include "app/registry/varn_registry.h"
#include "app/settings/varn_settings.h"
#include "app/telemetry/telemetry.h"
#include "console/gui_draw.h"

namespace {

GuiPair temperaturePair(double celsius) {
  if (celsius > 85) return GUI_RED;
  if (celsius > 70) return GUI_YELLOW;
  return GUI_GREEN;
}

struct CellText {
  int y, x, end, height;
  // Line `line` of the cell, if it fits: the label in cyan, then `value` from column
  // `at` of the label in `pair`.
  void put(int line, const char* label, int at, const char* value, GuiPair pair = GUI_PLAIN) const {
    if (line >= height) return;
    guiPut(y + line, x + 1, label, GUI_CYAN, end);
    if (value != nullptr) guiPut(y + line, x + 1 + at, value, pair, end);
  }
};

// The load state over "No Selected File", and its colour.
GuiPair loadStateText(int b, int d, char* out, size_t size) {
  switch (regLoad(deviceStates[b][d])) {
    case Programming: {
      double pct = regLoad(deviceLoadStatus[b][d]);
      if (!(pct >= 0)) pct = 0;
      if (pct > 100) pct = 100;
      std::snprintf(out, size, "Programming %3d%%", static_cast<int>(pct));
      return GUI_YELLOW;
    }
    case ProgrammingDone:
      std::snprintf(out, size, "Programming Done");
      return GUI_GREEN;
    case DeviceNotValid:
      std::snprintf(out, size, "Device Not Valid");
      return GUI_RED;
    case BitLoadFailed:
      std::snprintf(out, size, "Bit Load Failed!");
      return GUI_RED;
    default:
      if (gLoadBits) {
        std::snprintf(out, size, "Waiting For Prev");
        return GUI_YELLOW;
      }
      std::snprintf(out, size, "No Selected File");
      return GUI_PLAIN;
  }
}

void drawTitle(int y, int x, int width, int b, int d) {
  const int end = x + width + 1;
  if (b < 0) {
    guiPut(y, x + 1, "Offline", GUI_RED, end);
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Board %i FPGA %c:%hu", b, 'A' + d, regLoad(ports[b][d]));
  guiPut(y, x + 1, text, GUI_GREEN, end);
  // Each value is cut to 6 characters so that a hot or odd reading keeps its place; a
  // cell too narrow for them (a tiny terminal) leaves them out.
  if (end - 13 <= x) return;
  const double now = regLoad(telemetryTemps[b][d][0]);
  const double high = regLoad(telemetryHighTemps[b][d][0]);
  std::snprintf(text, sizeof text, "%0.2f/", now);
  text[6] = '\0';
  guiPut(y, end - 13, text, temperaturePair(now), end);
  std::snprintf(text, sizeof text, "%0.2fC", high);
  text[6] = '\0';
  guiPut(y, end - 7, text, temperaturePair(high), end);
}

void drawRails(const CellText& cell, int b, int d) {
  static const char* const kLabels[MAX_RAILS] = {"VCCINT: X.XC X.XXV X.XXA   ", "VCCBRAM: X.XXV X.XXA ",
                                                 "VCCHBM: X.XXV X.XXA "};
  static const int kValueAt[MAX_RAILS] = {8, 9, 8};
  bool valid[MAX_RAILS];
  double volts[MAX_RAILS], amps[MAX_RAILS];
  char text[96];
  for (int rail = 0; rail < MAX_RAILS; ++rail) {
    valid[rail] = regLoad(telemetryVRMValid[b][d][rail]) != 0;
    volts[rail] = regLoad(telemetryVRMVolts[b][d][rail]);
    amps[rail] = regLoad(telemetryVRMAmps[b][d][rail]);
    if (!valid[rail]) continue;
    std::snprintf(text, sizeof text, "%0.1fC %0.2fV %0.2fA", regLoad(telemetryVRMTemps[b][d][rail]), volts[rail],
                  amps[rail]);
    cell.put(7 + rail, kLabels[rail], kValueAt[rail], text);
  }
  if (valid[0] && valid[1]) {
    std::snprintf(text, sizeof text, "%0.2fW",
                  VARNTelemetryPowerEstimate(volts[0], amps[0], volts[1], amps[1], volts[2], amps[2], valid[2]));
    cell.put(7 + MAX_RAILS, "Total Estimated Power: X.XXW ", 23, text);
  }
}

}  // namespace

void guiDrawCell(int y, int x, int width, int height, int b, int d) {
  if (height < 1 || width < 1) return;
  drawTitle(y, x, width, b, d);
  if (b < 0 || d < 0) return;
  const CellText cell{y, x, x + width + 1, height};
  char text[96];

  // The serial is 16 raw bytes, terminated only when shorter.
  char serial[SERIAL_TEXT_SIZE + 1];
  std::memcpy(serial, deviceFTDISerials[b], SERIAL_TEXT_SIZE);
  serial[SERIAL_TEXT_SIZE] = '\0';
  cell.put(1, "Board Serial:                  ", 14, serial);

  std::snprintf(text, sizeof text, "%08x", regLoad(deviceIDCodes[b][d]));
  cell.put(2, "Model: XXXXXXXX                ", 7, text);
  char name[DEVICE_NAME_SIZE + 3];
  std::snprintf(name, sizeof name, "(%.*s)", DEVICE_NAME_SIZE, deviceName[b][d]);
  cell.put(2, "", 16, name);

  int n = std::snprintf(text, sizeof text, "0x");
  for (int i = 0; i < DNA_SIZE; ++i) n += std::snprintf(text + n, sizeof text - n, "%02hhx", deviceDNAs[b][d][i]);
  cell.put(3, "DNA: 0xXXXXXXXXXXXXXXXXXXXXXXXX", 5, text);

  char state[32];
  const GuiPair statePair = loadStateText(b, d, state, sizeof state);
  cell.put(4, "Bitstream: No Selected File Usr: 0xXXXXXXXX", 11, state, statePair);
  std::snprintf(text, sizeof text, "0x%08X", regLoad(deviceUserCode[b][d]));
  cell.put(4, "", 33, text);

  std::snprintf(text, sizeof text, "%i/%i", static_cast<int>(regLoad(deviceTxBytes[b][d])),
                static_cast<int>(regLoad(deviceRxBytes[b][d])));
  cell.put(6, "Traffic (TX/RX):               ", 17, text);

  if (height > 7) drawRails(cell, b, d);
}
