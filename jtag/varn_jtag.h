// The board JTAG API: one VARNJtag handle per board, reached through an FTDI channel
// in MPSSE mode or through a CoE/CoU board controller. Every call returns 0 on success
// and a small positive code otherwise (codes per group below).
#pragma once

#include <atomic>
#include <cstdint>

#include "ftdi/ftd2xx.h"

struct VARNJtag;

// Load progress in percent, written by a bitstream load while the GUI reads it.
using VARNProgressCell = std::atomic<double>;

constexpr int VARN_JTAG_MAX_DEVICES = 4;
constexpr uint32_t VARN_JTAG_MAX_SLRS = 4;

// Result codes. The values are part of the interface (callers log and compare them);
// one value may carry a group's own meaning, as the group comments below say.
constexpr int VARN_JTAG_OK = 0;
constexpr int VARN_JTAG_NO_DEVICE_INFO = 1;    // the FTDI driver gave no device information
constexpr int VARN_JTAG_UNKNOWN_DEVICE = 2;    // device row unknown; at creation: FTDI chip not supported
constexpr int VARN_JTAG_NOT_SUPPORTED = 3;     // not for this vendor, or not on this transport
constexpr int VARN_JTAG_BAD_ARGUMENT = 4;      // bad index, mode or argument; clock out of range
constexpr int VARN_JTAG_TRANSFER_FAILED = 5;   // the exchange with the board failed
constexpr int VARN_JTAG_CHAIN_ERROR = 5;       // chain scan: TDO stuck or chain broken
constexpr int VARN_JTAG_NO_DATA = 6;           // serial channel: nothing to read
constexpr int VARN_JTAG_NO_RESOURCES = 7;      // out of memory, or the CoE link did not connect
constexpr int VARN_JTAG_POLL_LIMIT = 9;        // SDM mailbox: the poll limit ran out
// A short text for a result code, for log lines ("transfer failed").
const char* VARNJtagResultText(int code);
constexpr int VARN_JTAG_NAME_SIZE = 32;

// --- connection and chain scan --------------------------------------------------
// 0 ok; 1 FTDI device information unavailable; 2 FTDI chip not supported;
// 4 bad argument or clock out of range; 5 chain scan error; 7 out of memory or CoE
// link not connected.
int VARNJtagCreate(FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out);
int VARNJtagCreateCoE(const char* address, uint32_t clockHz, VARNJtag** out);
int _VARNJtagCreate(const char* coeAddress, FT_HANDLE ftHandle, uint32_t clockHz, VARNJtag** out);
int VARNJtagDestroy(VARNJtag* jtag);
int VARNJtagSetFTDIJTAGLatency(VARNJtag* jtag, uint32_t ms);
int VARNJtagSetFTDIUARTLatency(VARNJtag* jtag, uint32_t ms);
int VARNJtagSetFTDIUart(VARNJtag* jtag, FT_HANDLE uartHandle);
int VARNJtagDeviceIsCoE(VARNJtag* jtag);
int VARNJtagGetDeviceCount(VARNJtag* jtag, uint8_t* count);
// name: at least VARN_JTAG_NAME_SIZE bytes.
int VARNJtagGetDeviceInfo(VARNJtag* jtag, uint32_t device, uint32_t* idcode, char* name, uint32_t* slrCount);

// --- device services --------------------------------------------------------------
// 0 ok; 2 device row unknown; 3 not for this vendor; 4 bad index or argument;
// 5 the JTAG exchange failed; or the non-zero result of IntelSDMCommand.
int VARNJtagGetDNA(VARNJtag* jtag, uint32_t device, uint8_t dna[12]);
int VARNJtagGetUserFuse(VARNJtag* jtag, uint32_t device, uint32_t* fuse);
int VARNJtagGetUser128Fuse(VARNJtag* jtag, uint32_t device, uint8_t fuse[16]);
int VARNJtagGetUserCode(VARNJtag* jtag, uint32_t device, uint32_t* code);
int VARNJtagGetSLRTemp(VARNJtag* jtag, uint32_t device, uint32_t slr, double* celsius);
// rail: 0 VCCINT, 1 VCCAUX, 2 VCCBRAM, 3 a fourth Intel rail.
int VARNJtagGetSLRVoltage(VARNJtag* jtag, uint32_t device, uint32_t slr, uint32_t rail, double* volts);
// Die temperature and VCCINT of SLRs 0 .. slrCount-1 (at most the device's) into
// celsius[] and volts[]: the reads of VARNJtagGetSLRTemp and VARNJtagGetSLRVoltage
// (rail 0), SLR by SLR, gathered into one exchange with the board. On a failure the
// outputs are left as they were (Intel devices: read one by one, each kept on success).
int VARNJtagGetSLRSensors(VARNJtag* jtag, uint32_t device, uint32_t slrCount, double* celsius, double* volts);
int VARNJtagGetZarvikInfo(VARNJtag* jtag, uint32_t device, uint8_t* carrier, uint8_t* slot, uint32_t* ledBits);

// --- serial channel (JTAG-UART, companion FTDI UART or CoE UART) ---------------------
// 0 ok; 2 device row unknown; 3 Intel device; 4 bad index or mode; 5 transfer failed;
// 6 no data. mode: 0 wait, 1 about 50 ms, 2 poll once.
int VARNJtagUartV1WriteByte(VARNJtag* jtag, uint32_t device, uint8_t byte);
int VARNJtagUartV1WriteBytes(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length,
                             uint32_t* written);
int VARNJtagUartV1ReadByte(VARNJtag* jtag, uint32_t device, uint8_t* byte, int mode);
int VARNJtagUartV1ReadBytes(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count,
                            int mode);
int VARNJtagUartV2ReadByte(VARNJtag* jtag, uint32_t device, uint8_t* byte, int mode);
int VARNJtagUartV2ReadBytes(VARNJtag* jtag, uint32_t device, uint8_t* buffer, uint32_t capacity, uint32_t* count,
                            int mode);
// JTAG-UART only (not the transport's own serial path): writes `length` bytes as
// VARNJtagUartV1WriteBytes does and reads one v2 batch after them in the same exchange,
// so that an answer the design gives at once comes back without a second exchange.
// 0 with *written = length and *count bytes read; 5 when the exchange failed (whether
// the device got the bytes is then unknown); 4 for an empty write or buffer.
int VARNJtagUartWriteThenRead(VARNJtag* jtag, uint32_t device, const uint8_t* data, uint32_t length,
                              uint32_t* written, uint8_t* buffer, uint32_t capacity, uint32_t* count);

// --- Intel Secure Device Manager mailbox ---------------------------------------------
// Entries are (32-bit word, 2-bit tag) pairs; answers (low word, high word) pairs.
// 0 when the response ended, 9 when the poll limit ran out.
int IntelSDMCommand(VARNJtag* jtag, uint32_t device, const uint32_t* commandEntries, uint32_t* answerEntries,
                    uint32_t commandCount, uint32_t answerCapacity, uint32_t pollLimit);
int IntelSDMFlush(VARNJtag* jtag, uint32_t device, uint32_t count);

// --- USB probe (diagnostic) -----------------------------------------------------------
int enumUSB();
int enumD2XX();
int probeUSB(FT_HANDLE ftHandle, uint16_t usbPid);
int enumPCIe();
int enumVARN();
int enumLibFTDI1();
int initLibFTDI1();
