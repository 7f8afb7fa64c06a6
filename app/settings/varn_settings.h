// Process-wide settings. Written only while main parses the command line, before any
// other thread exists; read by every thread afterwards. Text settings point into argv.
#pragma once

#include <cstdint>
#include <cstdio>

extern bool gUseUSB;
extern bool gUseUSBList;
extern const char* gUSBList;
extern bool gUseFTDIUart;
extern bool gUseCoE;
extern const char* gCoEList;
extern bool gUseCoU;
extern bool gListDevices;
extern bool gLoadBits;
extern const char* gBitList;
extern bool gUseManagement;
extern uint16_t gManagementPort;
extern uint16_t gStartPort;
extern bool gSetVCCINT;
extern const char* gVCCINTList;
extern bool gSetVCCBRAM;
extern const char* gVCCBRAMList;
extern bool gSetVCCHBM;
extern const char* gVCCHBMList;
extern bool gQuiet;
extern uint32_t gTelemetryInterval;
extern bool gUseGUI;
extern bool gUseAXIBridge;
extern FILE* logFile;
extern bool gDisableLocalAXI;
extern bool gEnableXVC;
extern uint16_t gXVCPort;
extern uint8_t gSetFTDIJTAGLatency;
extern uint8_t gSetFTDIUARTLatency;
extern uint8_t guiLogLines;

// Puts every setting back to its default (for tests that parse several command lines).
void VARNSettingsReset();
