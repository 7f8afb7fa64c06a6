// The regulator module fix-up shared by both ways of reaching a module's regulators
// (PMBus through a CoE board controller, and the FPGA's own I2C controller on ZK
// boards): which modules need it, and the four register writes it makes on 0x4D.
#pragma once

#include <cstdint>

struct VARNModulePatchStep {
  uint16_t reg;
  uint16_t value;
  const char* failure;  // logged by the ZK path when the write fails
};

constexpr int VARN_MODULE_PATCH_STEPS = 4;
extern const VARNModulePatchStep kVARNModulePatch[VARN_MODULE_PATCH_STEPS];

// Logs "Patching - Module ID is %04hx\n" and the module's class; true when the module
// takes the patch (both Q5826 generations), false for modules that need none.
bool VARNModuleNeedsPatch(uint16_t moduleId);
