#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "jtag/jtag_tables.h"

namespace {

// Breadth-first search over the next-state graph that may start in RESET or end in
// RESET but never passes through it; TMS=0 is tried first at each step so ties would
// show up as a mismatch rather than be hidden.
std::string shortestPath(uint32_t from, uint32_t to) {
  struct Node {
    uint32_t state;
    std::string path;
  };
  std::deque<Node> queue{{from, ""}};
  bool seen[JTAG_STATE_COUNT] = {};
  seen[from] = true;
  while (!queue.empty()) {
    Node n = queue.front();
    queue.pop_front();
    for (int tms = 0; tms < 2; ++tms) {
      uint32_t next = jtag_next_state[n.state][tms];
      std::string path = n.path + static_cast<char>('0' + tms);
      if (next == to) return path;
      if (next == RESET || seen[next]) continue;
      seen[next] = true;
      queue.push_back({next, path});
    }
  }
  return "<none>";
}

// Number of distinct shortest paths, to show the table's paths are the only ones.
int countShortest(uint32_t from, uint32_t to, size_t length) {
  int count = 0;
  for (uint32_t code = 0; code < (1u << length); ++code) {
    uint32_t s = from;
    bool ok = true;
    for (size_t k = 0; k < length && ok; ++k) {
      s = jtag_next_state[s][(code >> k) & 1];
      if (s == RESET && k + 1 < length) ok = false;
    }
    if (ok && s == to) ++count;
  }
  return count;
}

TEST(JtagTables, PathTableIsTheUniqueShortestPathAvoidingReset) {
  for (uint32_t from = 0; from < JTAG_STATE_COUNT; ++from) {
    for (uint32_t to = 0; to < JTAG_STATE_COUNT; ++to) {
      const std::string entry = JTAG_STATE_TRANS_TABLE[from][to];
      if (from == to) continue;
      SCOPED_TRACE(std::string(jtag_state_name[from]) + " -> " + jtag_state_name[to]);
      EXPECT_EQ(entry, shortestPath(from, to));
      EXPECT_EQ(countShortest(from, to, entry.size()), 1);
      // Walking the entry ends in the target and only touches RESET at the end.
      uint32_t s = from;
      for (size_t k = 0; k < entry.size(); ++k) {
        s = jtag_next_state[s][entry[k] == '1'];
        if (k + 1 < entry.size()) {
          EXPECT_NE(s, RESET);
        }
      }
      EXPECT_EQ(s, to);
    }
  }
}

TEST(JtagTables, DiagonalAndLongEntries) {
  for (uint32_t s = 0; s < JTAG_STATE_COUNT; ++s) {
    uint8_t bits = 0xAA;
    uint32_t len = 99;
    jtag_trans_get_tms(s, s, &bits, &len);
    if (s == RESET) {
      EXPECT_EQ(len, 7u);
      EXPECT_EQ(bits, 0x7F);
    } else {
      EXPECT_EQ(len, 0u) << jtag_state_name[s];
      EXPECT_EQ(bits, 0);
    }
  }
  int eight = 0;
  for (uint32_t f = 0; f < JTAG_STATE_COUNT; ++f)
    for (uint32_t t = 0; t < JTAG_STATE_COUNT; ++t) {
      size_t n = std::string(JTAG_STATE_TRANS_TABLE[f][t]).size();
      EXPECT_LE(n, 8u);
      if (n == 8) ++eight;
    }
  EXPECT_EQ(eight, 4);
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[DRSHIFT][IREXIT2], "11110101");
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[DRPAUSE][IREXIT2], "11110101");
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[DRCAPTURE][IREXIT2], "11110101");
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[IRSELECT][DREXIT2], "01110101");
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[IRSELECT][IDLE], "0110");
  EXPECT_STREQ(JTAG_STATE_TRANS_TABLE[DRSELECT][IDLE], "0110");
}

TEST(JtagTables, TmsBitsAreLsbFirst) {
  uint8_t bits;
  uint32_t len;
  jtag_trans_get_tms(RESET, DRSHIFT, &bits, &len);  // "0100"
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(bits, 0x02);
  jtag_trans_get_tms(IDLE, IRSHIFT, &bits, &len);  // "1100"
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(bits, 0x03);
  jtag_trans_get_tms(DRSHIFT, DRUPDATE, &bits, &len);  // "11"
  EXPECT_EQ(bits, 0x03);
  EXPECT_EQ(len, 2u);
  jtag_trans_get_tms(IRSELECT, DREXIT2, &bits, &len);  // "01110101"
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(bits, 0xAE);
  EXPECT_STREQ(jtag_state_name[IDLE], "IDLE");
  EXPECT_STREQ(jtag_state_name[DRCAPTURE], "DRCAPTURE");
}

TEST(JtagTables, ClassificationIgnoresVersionField) {
  for (int row = 0; row < JTAG_DEVICE_ROWS; ++row) {
    for (uint32_t version : {0u, 1u, 0xAu, 0xFu}) {
      uint32_t id = static_cast<uint32_t>(JTAG_IDCODES[row]) | (version << 28);
      EXPECT_EQ(jtag_classify_idcode(id), row) << std::hex << id;
    }
  }
  EXPECT_EQ(jtag_classify_idcode(0x14B31093), JTAG_DEV_VU9P);
  EXPECT_STREQ(JTAG_DECODE_STR[jtag_classify_idcode(0x032AC0DD)], "MX2100");
#ifndef _WIN32
  EXPECT_EQ(jtag_classify_idcode(0x12345678), JTAG_DEV_MX2100);
  EXPECT_EQ(jtag_classify_idcode(0x04B31092), JTAG_DEV_MX2100);  // one bit off VU9P
#else
  EXPECT_EQ(jtag_classify_idcode(0x12345678), JTAG_DEV_UNKNOWN);
#endif
}

TEST(JtagTables, InstructionMapFollowsSlrComposition) {
  EXPECT_EQ(JTAG_I_MAP[JTAG_DEV_VU35P][jtag_sysmon_column(1)], 0x937u);
  EXPECT_EQ(JTAG_I_MAP[JTAG_DEV_VU13P][jtag_sysmon_column(2)], 0x924DE4u);
  EXPECT_EQ(JTAG_I_MAP[JTAG_DEV_VU35P][JTAG_I_SYSMON], 0xDE4u);

  // Columns addressing one SLR: the 6-bit code in SLR 0 (top group), 0x24 elsewhere.
  const int perSlr0[] = {JTAG_I_SYSMON, JTAG_I_DNA,      JTAG_I_USER1,     JTAG_I_USER2,
                         JTAG_I_USER3,  JTAG_I_USER4,    JTAG_I_CFG_IN,    JTAG_I_USERCODE,
                         JTAG_I_FUSE_USER, JTAG_I_FUSE_USER128};
  const int allSlr[] = {JTAG_I_JPROGRAM, JTAG_I_JSTART, JTAG_I_JSHUTDOWN, JTAG_I_ISC_NOOP};
  auto compose = [](uint32_t code, int slrs, int addressed, bool all) {
    uint32_t v = 0;
    for (int k = 0; k < slrs; ++k) {
      uint32_t group = (all || k == addressed) ? code : 0x24;
      v |= group << (6 * (slrs - 1 - k));
    }
    return v;
  };
  for (int row = JTAG_DEV_VU33P; row <= JTAG_DEV_VU13P; ++row) {
    const int slrs = static_cast<int>(JTAG_I_MAP[row][JTAG_I_SLR_COUNT]);
    EXPECT_EQ(slrs, row + 1);
    EXPECT_EQ(JTAG_IRLENS[row], 6u * slrs);
    for (int col : perSlr0) {
      uint32_t code = JTAG_I_MAP[JTAG_DEV_VU33P][col];
      EXPECT_EQ(JTAG_I_MAP[row][col], compose(code, slrs, 0, false)) << "row " << row << " col " << col;
    }
    for (int col : allSlr) {
      uint32_t code = JTAG_I_MAP[JTAG_DEV_VU33P][col];
      EXPECT_EQ(JTAG_I_MAP[row][col], compose(code, slrs, 0, true)) << "row " << row << " col " << col;
    }
    for (int slr = 1; slr < 4; ++slr) {
      uint32_t want = slr < slrs ? compose(0x37, slrs, slr, false) : 0;
      EXPECT_EQ(JTAG_I_MAP[row][jtag_sysmon_column(slr)], want) << "row " << row << " slr " << slr;
    }
    // Bit position of INIT_COMPLETE in the master SLR's capture group.
    EXPECT_EQ(JTAG_I_MAP[row][JTAG_I_INIT_BIT], 6u * (slrs - 1) + 4);
  }
  for (int row = JTAG_DEV_GX2800H; row <= JTAG_DEV_MX2100; ++row) {
    EXPECT_EQ(JTAG_VENDORS[row], JTAG_VENDOR_INTEL);
    EXPECT_EQ(JTAG_IRLENS[row], 10u);
    EXPECT_EQ(JTAG_I_MAP[row][JTAG_I_SDM_COMMAND], 0x201u);
    EXPECT_EQ(JTAG_I_MAP[row][JTAG_I_SDM_RESPONSE], 0x202u);
    EXPECT_EQ(JTAG_I_MAP[row][JTAG_I_CFG_STATUS], 0x208u);
    EXPECT_EQ(JTAG_I_MAP[row][JTAG_I_CFG_IN], 0x2u);
  }
  EXPECT_EQ(JTAG_BOUNDARY_SIZE[JTAG_DEV_VU35P], 1858u);
}

}  // namespace
