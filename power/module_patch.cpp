#include "power/module_patch.h"

#include "app/log/varn_log.h"

const VARNModulePatchStep kVARNModulePatch[VARN_MODULE_PATCH_STEPS] = {
    {0x0824, 0x2C22, "Failed applying ZKM patch A\n"},
    {0x0822, 0x5C1C, "Failed applying ZKM patch B\n"},
    {0x0820, 0x0077, "Failed applying ZKM patch C\n"},
    {0x0A80, 0x0100, "Failed applying ZKM patch D\n"},
};

bool VARNModuleNeedsPatch(uint16_t id) {
  VARNLog("Patching - Module ID is %04hx\n", id);
  if (id < 0xA0) {
    VARNLog("Gen 1 Q5826 - Applying Patches\n");
    return true;
  }
  // The low nibble is the module's revision; the class is in the bits above it.
  switch (id & 0xFFF0) {
    case 0x0A0:
      VARNLog("Gen 2 Q5826 - Applying Patches\n");
      return true;
    case 0xC40:
      VARNLog("No patches for TRW61\n");
      return false;
    case 0xCC0:
      VARNLog("No patches for PLD27\n");
      return false;
    case 0x1C0:
      VARNLog("No patches for E/F7093\n");
      return false;
    default:
      VARNLog("Unknown ZKM\n");
      return false;
  }
}
