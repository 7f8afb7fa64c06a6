// The seed corpus of a fuzz target as its replay test reads it: every file of the
// folder, by name order, with its bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct VarnSeed {
  std::string name;  // the file name, without the folder
  std::vector<uint8_t> bytes;
};

inline std::vector<VarnSeed> varnReadCorpus(const char* folder) {
  std::vector<VarnSeed> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream f(entry.path(), std::ios::binary);
    seeds.push_back({entry.path().filename().string(),
                     std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>())});
  }
  std::sort(seeds.begin(), seeds.end(), [](const VarnSeed& a, const VarnSeed& b) { return a.name < b.name; });
  return seeds;
}
