// The values the web console gives: JSON in UTF-8 whatever bytes the engine's texts hold,
// and /metrics as a scraper reads it.
#include "web/web_values.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace orv {
namespace {

TEST(WebValues, JsonIsUtf8AndHoldsWhatTheWindowShows) {
  ServerStatus status;
  status.version = "1.3.1.0 beta";
  status.port = 9010;
  status.listening = true;
  status.users = 2;
  status.startedAtMs = 1000;
  status.takenAtMs = 62500;
  status.clientAddresses = {"192.168.1.10"};
  const Json json = StatusValue(status);
  EXPECT_EQ(json["uptimeSeconds"], 61);
  EXPECT_EQ(json["users"], 2);
  EXPECT_EQ(json["clientAddresses"][0], "192.168.1.10");

  StoredBlock block{"\xC1\xEE\xF0\xE8\xF1", StoredBlockKind::kName, {"x (10.0.0.1)"}};
  EXPECT_EQ(JsonLine(BlocksValue({block})),
            R"j([{"key":"Борис","looksLike":"name","refusing":["x (10.0.0.1)"]}])j");

  // Control characters and bytes that are no letters of the code page still make JSON.
  UserRow odd;
  odd.mac = "A\"\x01";
  odd.name = "\x98\xFF\x1B";
  const std::string text = JsonLine(UserValue(odd));
  Json parsed;
  EXPECT_NO_THROW(parsed = Json::parse(text)) << text;
  EXPECT_NE(text.find(R"("mac":"A\"\u0001")"), std::string::npos) << text;
}

TEST(WebValues, MetricsParseAsPrometheusTextWithEveryCount) {
  ServerStatus status;
  status.users = 4;
  status.connections = 5;
  status.listening = true;
  status.startedAtMs = 0;
  status.takenAtMs = 12345;
  status.counters.packetsReceived = 10;
  status.counters.bytesReceived = 1000;
  status.counters.deliveries = 40;
  status.counters.blockedPackets = 2;
  status.counters.notices = {
      {"refused packets", 3}, {"slow readers closed", 1}, {"a \"quoted\" kind\\", 7}};
  const std::string text = MetricsText(status);

  // Every line: a comment (# HELP / # TYPE of a known metric) or name{labels} value.
  const std::regex sample(R"re(([a-z_]+)(\{kind="((?:[^"\\]|\\.)*)"\})? ([0-9]+(\.[0-9]+)?))re");
  const std::regex comment(R"(# (HELP|TYPE) ([a-z_]+) .+)");
  std::map<std::string, std::string> values;
  std::set<std::string> typed;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, comment)) {
      if (match[1] == "TYPE") typed.insert(match[2]);
      continue;
    }
    ASSERT_TRUE(std::regex_match(line, match, sample)) << line;
    EXPECT_TRUE(typed.count(match[1])) << line << " has no TYPE before it";
    values[match[1].str() + (match[2].matched ? "{" + match[3].str() + "}" : "")] = match[4];
  }
  EXPECT_EQ(values["orvchat_users_online"], "4");
  EXPECT_EQ(values["orvchat_connections"], "5");
  EXPECT_EQ(values["orvchat_packets_received_total"], "10");
  EXPECT_EQ(values["orvchat_bytes_received_total"], "1000");
  EXPECT_EQ(values["orvchat_deliveries_total"], "40");
  EXPECT_EQ(values["orvchat_refused_total{blocked}"], "2");
  EXPECT_EQ(values["orvchat_refused_total{packet}"], "3");
  EXPECT_EQ(values["orvchat_refused_total{connection}"], "0");
  EXPECT_EQ(values["orvchat_slow_readers_dropped_total"], "1");
  EXPECT_EQ(values["orvchat_uptime_seconds"], "12.345");
  EXPECT_EQ(values["orvchat_notices_total{a \\\"quoted\\\" kind\\\\}"], "7");
}

}  // namespace
}  // namespace orv
