// Every command of the board-controller protocol by name, with its payload: what the
// host sends, and what the controller sends back. All fields are little-endian.
#pragma once

#include <cstdint>

// --- from the controller ---------------------------------------------------------------
constexpr uint16_t VN_COE_ANSWER = 0x000A;             // completes the request with the same tag
constexpr uint16_t VN_COE_NAK = 0x000E;                // negative answer: a 32-bit code first
constexpr uint16_t VN_COE_CMD_UART_DATA = 0x1205;      // slot << 4, then the FPGA's UART bytes
constexpr uint16_t VN_COE_CMD_UART_OVERFLOW = 0x1206;  // slot: UART bytes from the host were lost

// --- from the host -------------------------------------------------------------------------
constexpr uint16_t VN_COE_CMD_HELLO = 0x0010;          // none; tag 1 after connecting, tag 3 as keepalive
constexpr uint16_t VN_COE_CMD_STATUS = 0x0300;         // none; a 16-byte record per slot comes back
constexpr uint16_t VN_COE_CMD_JTAG_MODE = 0x1001;      // 0x00, mode: 1 raw (XVC), 2 device abstraction
constexpr uint16_t VN_COE_CMD_JTAG_CLOCK = 0x100C;     // 32-bit 0, 32-bit TCK rate
constexpr uint16_t VN_COE_CMD_RAW_SHIFT = 0x100E;      // 0x00, 0x00, 16-bit bits, TDI/TMS byte pairs; TDO back
constexpr uint16_t VN_COE_CMD_IDLE_OR_SHIFT = 0x100F;  // 0x00, flags, 16-bit bits[, TDI]: 0x19 idle, 0x20 shift
constexpr uint16_t VN_COE_CMD_IDCODES = 0x1010;        // 0x00, 0x00; the chain's IDCODEs come back
constexpr uint16_t VN_COE_CMD_IR_LENGTHS = 0x1011;     // 0x00, one IR length byte per device
constexpr uint16_t VN_COE_CMD_DEVICE_SHIFT = 0x1012;   // device, flags, 16-bit bits, data; captured bytes back
constexpr uint16_t VN_COE_CMD_I2C = 0x1110;            // address, slot << 4, 16-bit read count, bytes to write
constexpr uint16_t VN_COE_CMD_UART_MODE = 0x1201;      // slot << 4, 0x01
constexpr uint16_t VN_COE_CMD_UART_RATE = 0x1202;      // slot << 4, 0x00, 16-bit 0, 32-bit baud rate
constexpr uint16_t VN_COE_CMD_UART_WRITE = 0x1204;     // slot << 4, up to 4095 UART bytes (tag 2)

// --- payload constants -----------------------------------------------------------------
constexpr uint8_t VN_COE_JTAG_MODE_RAW = 0x01;          // the host walks the TAP (XVC)
constexpr uint8_t VN_COE_JTAG_MODE_DEVICES = 0x02;      // the controller walks the TAP
constexpr uint8_t VN_COE_IDLE_FLAGS = 0x19;             // 0x100F: clocks in Run-Test/Idle
constexpr uint32_t VN_COE_IDLE_MAX_CLOCKS = 32767;      // 0x100F: clocks per request
constexpr uint32_t VN_COE_UART_WRITE_MAX = 4095;        // 0x1204: bytes per request
constexpr uint8_t VN_COE_I2C_PING_ADDRESS = 0x4D;       // the module's regulator answers here
