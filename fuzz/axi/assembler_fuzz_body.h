// The body of the packet-assembler fuzzer, shared with a plain replay test: it cuts
// the input into feeds (the first byte chooses the cut pattern), runs the assembler
// and compares it with a direct byte-at-a-time model of the documented resync rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "axi/varn_axi_packet.h"

struct VarnAssemblerFuzzResult {
  bool consistent;
  size_t packets;
};

inline VarnAssemblerFuzzResult varnAssemblerFuzzOne(const uint8_t* data, size_t size) {
  VarnAssemblerFuzzResult result{true, 0};
  if (size == 0) return result;
  uint8_t pattern = data[0];
  const uint8_t* stream = data + 1;
  size_t n = size - 1;

  // Model: a window that takes one byte at a time.
  std::vector<std::vector<uint8_t>> expected;
  uint8_t win[16];
  size_t fill = 0, bad = 0;
  for (size_t i = 0; i < n; ++i) {
    win[fill++] = stream[i];
    if (fill < 16) continue;
    if (VARNAXIPacketCheckOK(win)) {
      expected.emplace_back(win, win + 16);
      fill = 0;
    } else {
      ++bad;
      std::memmove(win, win + 1, 15);
      fill = 15;
    }
  }

  VARNAXIAssembler a;
  VARNAXIAssemblerReset(&a);
  std::vector<std::vector<uint8_t>> got;
  size_t pos = 0;
  size_t step = size_t(pattern % 37) + 1;
  while (pos < n) {
    size_t len = step;
    if (pattern & 0x80) len = (pos * 7 + pattern) % 41 + 1;  // irregular cuts
    if (len > n - pos) len = n - pos;
    const uint8_t* p = stream + pos;
    size_t left = len;
    uint8_t out[16];
    while (VARNAXIAssemblerNext(&a, &p, &left, out, nullptr)) {
      if (!VARNAXIPacketCheckOK(out)) result.consistent = false;
      got.emplace_back(out, out + 16);
    }
    if (left != 0 || p != stream + pos + len) result.consistent = false;
    pos += len;
  }
  if (got != expected) result.consistent = false;
  if (a.badWindows != bad || a.fill != fill) result.consistent = false;
  if (got.size() * 16 + a.badWindows + a.fill != n) result.consistent = false;
  result.packets = got.size();
  return result;
}
