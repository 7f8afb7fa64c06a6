#include "app/voltage/voltage_list.h"

#include <cstdlib>
#include <cstring>

#include "app/log/varn_log.h"
#include "app/settings/varn_settings.h"

// ',' and ':' never continue a number, so strtod stops at the end of an entry or a
// value by itself and the list need not be copied or cut up.
static double numberAt(const char* text) { return std::strtod(text, nullptr); }

// Start of piece `index` of `text` split at `separator`, within [text, end); null when
// the text has fewer pieces.
static const char* pieceStart(const char* text, const char* end, char separator, int index) {
  const char* p = text;
  for (int i = 0; i < index; ++i) {
    const char* next = static_cast<const char*>(std::memchr(p, separator, static_cast<size_t>(end - p)));
    if (next == nullptr) return nullptr;
    p = next + 1;
  }
  return p;
}

static int pieceCount(const char* text, const char* end, char separator) {
  int count = 1;
  for (const char* p = text; p < end; ++p) count += (*p == separator);
  return count;
}

double VARNVoltageListTarget(const char* list, int board, int device) {
  if (list == nullptr || board < 0 || device < 0 || device > 3) return 0.0;
  const char* listEnd = list + std::strlen(list);
  if (std::memchr(list, ',', static_cast<size_t>(listEnd - list)) == nullptr) return numberAt(list);

  const char* entry = pieceStart(list, listEnd, ',', board);
  if (entry == nullptr) return 0.0;
  const char* entryEnd = static_cast<const char*>(std::memchr(entry, ',', static_cast<size_t>(listEnd - entry)));
  if (entryEnd == nullptr) entryEnd = listEnd;
  if (std::memchr(entry, ':', static_cast<size_t>(entryEnd - entry)) == nullptr) return numberAt(entry);

  int values = pieceCount(entry, entryEnd, ':');
  if (values > 4) values = 4;  // a fifth value and beyond name no device
  int pick = device < values ? device : values - 1;
  return numberAt(pieceStart(entry, entryEnd, ':', pick));
}

bool VARNVoltageInRange(VARNRail rail, double volts) {
  double low = rail == VARN_RAIL_VCCHBM ? 1.0 : 0.6;
  double high = rail == VARN_RAIL_VCCHBM ? 1.3 : 0.95;
  return volts >= low && volts <= high;  // written this way round so NaN fails
}

VARNVoltageResult VARNApplyVoltage(VARNRail rail, int board, int device, double volts, VARNRailWriter write,
                                   void* context) {
  if (!VARNVoltageInRange(rail, volts)) {
    switch (rail) {
      case VARN_RAIL_VCCINT:
        VARNLog("VARN JTAG Board %i Device %i specified voltage %0.2f is out of range\n", board, device, volts);
        break;
      case VARN_RAIL_VCCBRAM:
        VARNLog("VARN JTAG Board %i Device %i specified BRAM voltage %0.2f is out of range\n", board, device, volts);
        break;
      case VARN_RAIL_VCCHBM:
        VARNLog("VARN JTAG Board %i Device %i specified HBM voltage %0.2f is out of range\n", board, device, volts);
        break;
    }
    return VARN_VOLTAGE_OUT_OF_RANGE;
  }
  switch (rail) {
    case VARN_RAIL_VCCINT:
      VARNLog("VARN JTAG Board %i Device %i setting voltage %0.2f\n", board, device, volts);
      break;
    case VARN_RAIL_VCCBRAM:
      VARNLog("VARN JTAG Board %i Device %i setting BRAM voltage %0.2f\n", board, device, volts);
      break;
    case VARN_RAIL_VCCHBM:
      VARNLog("VARN JTAG Board %i Device %i setting HBM voltage %0.2f\n", board, device, volts);
      break;
  }
  if (write != nullptr && write(context, board, device, rail, volts) != 0) {
    VARNLog("Failed to set voltage\n");
    return VARN_VOLTAGE_WRITE_FAILED;
  }
  return VARN_VOLTAGE_WRITTEN;
}

VARNVoltageResult VARNApplyStartupVoltage(VARNRail rail, int board, int device, VARNRailWriter write,
                                          void* context) {
  bool given = false;
  const char* list = nullptr;
  switch (rail) {
    case VARN_RAIL_VCCINT:
      given = gSetVCCINT;
      list = gVCCINTList;
      break;
    case VARN_RAIL_VCCBRAM:
      given = gSetVCCBRAM;
      list = gVCCBRAMList;
      break;
    case VARN_RAIL_VCCHBM:
      given = gSetVCCHBM;
      list = gVCCHBMList;
      break;
  }
  if (!given) return VARN_VOLTAGE_NOT_SET;
  return VARNApplyVoltage(rail, board, device, VARNVoltageListTarget(list, board, device), write, context);
}
