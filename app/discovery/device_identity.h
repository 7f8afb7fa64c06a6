// What the scan reads and prints about each FPGA of a newly registered board: device
// info, DNA, user fuses, SLR sensors, carrier information and user code. Every read
// is made even when an earlier one failed.
#pragma once

// Reads and logs the identity of every device of board `b`, filling its table entries.
void VARNReadDeviceIdentities(int b);

// The carrier line of one device, from the carrier number, module number and LED bits
// (0x40 R, 0x20 G, 0x10 B, 0x08 A, 0x04 B, 0x02 C, 0x01 D; a clear bit shows '-').
// `out` needs room for 96 bytes.
void VARNFormatZarvikLine(char* out, int board, int device, int carrier, int module, unsigned ledBits);
