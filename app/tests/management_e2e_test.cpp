// The management API of the real varn_tcp_bridge (-m) against simulated CoE boards: the
// frames byte for byte, what a silent client gets, the load request, 64 client slots,
// a client that never reads; then varn_mgmt's tables and JSON, and its exporter as a
// real Prometheus server scrapes it.
#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/tests/board_rig.h"
#include "tools/varn_mgmt/mgmt_frame.h"

namespace {

using rig::countOf;
using varnmgmt::Frame;

// Frames from a raw client, parsed with the client library's parser.
struct FrameClient {
  explicit FrameClient(uint16_t port, int receiveBuffer = 0) : c(port, receiveBuffer) {}
  // The next frame, or false after `seconds`.
  bool next(Frame* f, double seconds) {
    for (;;) {
      std::string error;
      switch (reader.next(f, &error)) {
        case varnmgmt::ParseResult::Frame: return true;
        case varnmgmt::ParseResult::Error: ADD_FAILURE() << error; return false;
        case varnmgmt::ParseResult::NeedMore: break;
      }
      std::string got = c.receive(1, seconds);
      if (got.empty()) return false;
      // Whatever else arrived with it.
      std::string more = c.receive(65536, 0.01);
      got += more;
      raw += got;
      reader.feed(reinterpret_cast<const uint8_t*>(got.data()), got.size());
    }
  }
  rig::Client c;
  varnmgmt::FrameReader reader;
  std::string raw;
};

class Management : public BoardRig {
 protected:
  void start(const std::vector<std::string>& extra = {}) {
    addresses = startCoeSim({{"--coe-fpga", "vu9p,app=echo"}, {"--coe-fpga", "vu35p,app=echo"}});
    ASSERT_EQ(addresses.size(), 2u);
    base = rig::freePortRange(3);
    mgmt = static_cast<uint16_t>(base + 2);
    std::vector<std::string> args = {"-c", addresses[0] + "," + addresses[1], "-m", "-n", std::to_string(mgmt), "-q",
                                     "-k", "0", "-p", std::to_string(base)};
    args.insert(args.end(), extra.begin(), extra.end());
    startBridge(args);
    ASSERT_TRUE(bridge().waitFor("Thread starting for board 1\n", 30)) << bridgeOutput();
  }
  std::string mgmtTool(const std::vector<std::string>& args, int* status) {
    std::vector<std::string> argv = {VARN_MGMT_PATH, "--port", std::to_string(mgmt)};
    argv.insert(argv.end(), args.begin(), args.end());
    rig::Process p(argv, {}, dir_, dir_ / "mgmt.out");
    *status = p.waitExit(30);
    return p.output();
  }

  std::vector<std::string> addresses;
  uint16_t base = 0, mgmt = 0;
};

TEST_F(Management, FramesRequestsAndClientSlots) {
  start();
  // A client that sends nothing gets telemetry frames, and nothing else, at every
  // telemetry time: 2 boards, 1 device each, 3 SLRs on the VU9P, 2 on the VU35P.
  FrameClient silent(mgmt);
  Frame f;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(silent.next(&f, 10)) << bridgeOutput();
    ASSERT_EQ(f.kind, Frame::Kind::Telemetry);
    ASSERT_EQ(f.telemetry.size(), 2u);
    EXPECT_EQ(f.telemetry[0][0].slrs.size(), 3u);
    EXPECT_EQ(f.telemetry[0][0].serial, addresses[0]);
  }

  // The device list: 5 + 2 x (1 + 45) bytes without -b.
  FrameClient asker(mgmt);
  ASSERT_TRUE(asker.c.send("VNDL"));
  ASSERT_TRUE(asker.next(&f, 5));
  ASSERT_EQ(f.kind, Frame::Kind::DeviceList);
  ASSERT_EQ(asker.raw.size(), 97u);
  const std::string& r = asker.raw;
  EXPECT_EQ(r.substr(0, 6), std::string("VNDL\x02\x01", 6));
  EXPECT_EQ(static_cast<uint8_t>(r[6]), 45);
  EXPECT_EQ(r.substr(6 + 13, addresses[0].size()), addresses[0]);
  uint32_t idcode = 0;
  std::memcpy(&idcode, r.data() + 6 + 29, 4);
  EXPECT_EQ(idcode, 0x04B31093u);
  EXPECT_EQ(static_cast<uint8_t>(r[6 + 34]), 0);  // no name
  EXPECT_EQ(f.devices[0][0].port, base);
  EXPECT_EQ(f.devices[1][0].port, base + 1);
  EXPECT_EQ(f.devices[1][0].idcode, 0x04B71093u);

  // Requests that arrive in one piece all count; the two device-list requests give one
  // frame.
  asker.raw.clear();
  ASSERT_TRUE(asker.c.send("VNDLVNRSVNTM"));
  int lists = 0;
  do {
    ASSERT_TRUE(asker.next(&f, 5));
    lists += f.kind == Frame::Kind::DeviceList ? 1 : 0;
  } while (f.kind != Frame::Kind::Telemetry);
  EXPECT_EQ(lists, 1);

  // Load requests: a name that did not arrive whole changes nothing; an empty one is
  // reported as asked.
  ASSERT_TRUE(asker.c.send(std::string("VNLB\x14" "abc", 8)));
  ASSERT_TRUE(bridge().waitFor("Bitstream Load Requested, scheduled\n", 5)) << bridgeOutput();
  ASSERT_TRUE(asker.c.send(std::string("VNLB\x00", 5)));
  ASSERT_TRUE(bridge().waitFor("Asked to load  on all devices, TODO - not supported\n", 5)) << bridgeOutput();
  EXPECT_EQ(countOf(bridgeOutput(), "Bitstream Load Requested, scheduled\n"), 2);
  EXPECT_EQ(countOf(bridgeOutput(), "Asked to load"), 1);

  // 64 slots: the two above, 61 more that never read (with small buffers) and one that
  // asks; a 65th is accepted and closed at once.
  std::vector<std::unique_ptr<rig::Client>> crowd;
  for (int i = 0; i < 61; ++i) {
    crowd.push_back(std::make_unique<rig::Client>(mgmt, 2048));
    ASSERT_TRUE(crowd.back()->connected());
  }
  FrameClient last(mgmt);
  rig::Client extra(mgmt);
  EXPECT_TRUE(extra.closedByPeer(5));
  // Device lists for everyone, far more than the silent ones can hold: the asker keeps
  // being answered at once, and the main loop keeps its telemetry times.
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(last.c.send("VNTM"));
    Frame t;
    do {
      ASSERT_TRUE(last.next(&t, 2)) << "request " << i;
      } while (t.kind != Frame::Kind::Telemetry);
    ASSERT_TRUE(last.c.send("VNDL"));
  }
  EXPECT_TRUE(bridge().running());
}

TEST_F(Management, VarnMgmtTablesJsonAndLoad) {
  start({"-b", "start.bit"});
  int status = -1;
  std::string out = mgmtTool({"devices"}, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("VU9P"), std::string::npos) << out;
  EXPECT_NE(out.find("VU35P"), std::string::npos) << out;
  EXPECT_NE(out.find(addresses[1]), std::string::npos) << out;
  EXPECT_NE(out.find("start.bit"), std::string::npos) << out;

  out = mgmtTool({"--json", "telemetry"}, &status);
  ASSERT_EQ(status, 0) << out;
  nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["schema_version"], 1);
  ASSERT_EQ(j["devices"].size(), 2u);
  EXPECT_EQ(j["devices"][0]["part"], "VU9P");
  EXPECT_EQ(j["devices"][0]["slrs"].size(), 3u);
  EXPECT_TRUE(j["devices"][0]["slrs"][0]["temperature_celsius"].is_number());

  out = mgmtTool({"load", "next.bit"}, &status);
  EXPECT_EQ(status, 0) << out;
  ASSERT_TRUE(bridge().waitFor("Asked to load next.bit on all devices, TODO - not supported\n", 5)) << bridgeOutput();
  out = mgmtTool({"--json", "devices"}, &status);
  ASSERT_EQ(status, 0) << out;
  j = nlohmann::json::parse(out);
  EXPECT_EQ(j["devices"][1]["bitstream"], "next.bit");
  EXPECT_EQ(j["devices"][1]["port"], base + 1);

  out = mgmtTool({"load", std::string(211, 'x')}, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("at most 210"), std::string::npos) << out;
}

std::string httpGet(uint16_t port, const std::string& path) {
  rig::Client c(port);
  if (!c.connected() || !c.send("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
    return "";
  const std::string reply = c.receive(1 << 22, 5);
  const size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? "" : reply.substr(body + 4);
}

template <typename F>
bool eventually(F f, double seconds) {
  const uint64_t until = varn_monotonic_ns() + static_cast<uint64_t>(seconds * 1e9);
  while (!f()) {
    if (varn_monotonic_ns() > until) return false;
    varn_sleep_ms(100);
  }
  return true;
}

TEST_F(Management, ExporterIsScrapedByPrometheus) {
  start();
  const uint16_t exporterPort = rig::freePortRange(1), promPort = rig::freePortRange(1);
  rig::Process exporter({VARN_MGMT_PATH, "--port", std::to_string(mgmt), "exporter", "--listen",
                         "127.0.0.1:" + std::to_string(exporterPort)},
                        {}, dir_, dir_ / "exporter.out");
  std::string metrics;
  ASSERT_TRUE(eventually(
      [&] {
        metrics = httpGet(exporterPort, "/metrics");
        return countOf(metrics, "varn_fpga_temperature_celsius{") == 5 && metrics.find("varn_fpga_state{") != std::string::npos;
      },
      20))
      << metrics << exporter.output();
  EXPECT_NE(metrics.find("varn_management_up 1\n"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("part=\"VU35P\""), std::string::npos) << metrics;
  rig::writeFile(dir_ / "metrics.txt", metrics);
  rig::Process check({"/bin/sh", "-c", "promtool check metrics < metrics.txt"}, {}, dir_, dir_ / "promtool.out");
  EXPECT_EQ(check.waitExit(30), 0) << check.output();

  rig::writeFile(dir_ / "prometheus.yml", "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: varn\n"
                                          "    static_configs:\n      - targets: ['127.0.0.1:" +
                                              std::to_string(exporterPort) + "']\n");
  rig::Process prometheus({"/usr/bin/prometheus", "--config.file=prometheus.yml", "--storage.tsdb.path=tsdb",
                           "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                          {}, dir_, dir_ / "prometheus.out");
  nlohmann::json result;
  ASSERT_TRUE(eventually(
      [&] {
        const std::string body = httpGet(promPort, "/api/v1/query?query=varn_fpga_temperature_celsius%7Bslr%3D%220%22%7D");
        if (body.empty()) return false;
        result = nlohmann::json::parse(body, nullptr, false);
        return result.is_object() && result["status"] == "success" && result["data"]["result"].size() == 2;
      },
      60))
      << result.dump() << prometheus.output();
  std::vector<std::string> parts;
  for (const auto& series : result["data"]["result"]) parts.push_back(series["metric"]["part"]);
  std::sort(parts.begin(), parts.end());
  EXPECT_EQ(parts, (std::vector<std::string>{"VU35P", "VU9P"}));

  // The bridge goes away and comes back: the exporter says so and reconnects.
  bridge_.reset();
  ASSERT_TRUE(eventually([&] { return httpGet(exporterPort, "/metrics").find("varn_management_up 0\n") != std::string::npos; }, 20));
  startBridge({"-c", addresses[0] + "," + addresses[1], "-m", "-n", std::to_string(mgmt), "-q", "-k", "0", "-p",
               std::to_string(base)});
  ASSERT_TRUE(eventually([&] { return httpGet(exporterPort, "/metrics").find("varn_management_up 1\n") != std::string::npos; }, 30))
      << exporter.output();
}

}  // namespace
