#include "wire_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "client_packets.h"
#include "latency_histogram.h"

namespace orv::bench {
namespace {

const WireCodec& Codec() {
  return WireCodec::BuiltIn();
}

TEST(WireScannerTest, ReadsTheSameHeaderAsTheDecodedReader) {
  const WireScanner scanner(Codec());
  const std::vector<std::string> packets = {
      "1.2.3.4(AA)||n||a||0.0||1||5||hello",
      "10.0.0.1(B|B)||na|me||a||s||f||37||1:[IUL]|U1|x|/U1|[/IUL]",
      "ip(mac)||\xC0\xE1\xE2||ava||||||2||0:x||y",
      "ip(mac)||n|||a||s||f||07x||b",  // "|||": the first two bars separate
      "ip(mac)||n||a||s||f||||empty type",
  };
  for (const std::string& plain : packets) {
    const std::string wire = Codec().EncodeText(plain);
    const auto header = scanner.ReadHeader(wire);
    const client::ParsedPacket expected = client::ParsePacket(plain);
    ASSERT_TRUE(header.has_value()) << plain;
    EXPECT_EQ(scanner.Decode(header->name), expected.name) << plain;
    EXPECT_EQ(header->type, expected.type) << plain;
    EXPECT_EQ(scanner.Decode(header->body), expected.body) << plain;
  }
  for (const char* broken :
       {"", "ip(mac)||n||a||s||f||5", "no separators at all", "a||b||c||d||e"}) {
    EXPECT_FALSE(scanner.ReadHeader(Codec().EncodeText(broken)).has_value()) << broken;
  }
}

TEST(WireScannerTest, FindsTerminatorsOnlyWhole) {
  const WireScanner scanner(Codec());
  const std::string wire = Codec().EncodeText("ab//endcd/en//end//en");
  EXPECT_EQ(scanner.FindTerminator(wire), 2u);
  EXPECT_EQ(scanner.FindTerminator(wire, 3), 12u);
  EXPECT_EQ(scanner.FindTerminator(wire, 13), std::string::npos);  // "//en" at the end
  EXPECT_EQ(scanner.FindTerminator(wire, 100), std::string::npos);
  EXPECT_EQ(scanner.FindTerminator(""), std::string::npos);
  // The plain terminator is not a terminator on the wire.
  EXPECT_EQ(scanner.FindTerminator("x//endx"), std::string::npos);
}

TEST(WireScannerTest, StampsRoundTripAndRefuseOtherBodies) {
  const WireScanner scanner(Codec());
  for (const Stamp stamp : {Stamp{0, 0, 0}, Stamp{99999, 9999999999, 9223372036854775807},
                            Stamp{7, 123456, 1700000000123456789}}) {
    const std::string body = WireScanner::StampedBody(stamp, 80);
    EXPECT_EQ(body.size(), 80u);
    const auto read = scanner.ReadStamp(Codec().EncodeText(body));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->sender, stamp.sender);
    EXPECT_EQ(read->sequence, stamp.sequence);
    EXPECT_EQ(read->sentNs, stamp.sentNs);
  }
  const std::string good = WireScanner::StampedBody(Stamp{1, 2, 3}, 0);
  EXPECT_EQ(good.size(), WireScanner::kStampSize);
  std::string digitBroken = good;
  digitBroken[10] = 'x';
  std::string dotMissing = good;
  dotMissing.back() = '0';
  for (const std::string& body :
       {std::string("hello"), std::string(), good.substr(0, good.size() - 1), digitBroken,
        dotMissing, std::string(1, 'x').append(good, 1)}) {
    EXPECT_FALSE(scanner.ReadStamp(Codec().EncodeText(body)).has_value()) << body;
  }

  // The shortcut the generator takes for whole packets finds the same stamp, and nothing in
  // a packet of another type or without a stamp.
  const client::Identity who{"127.0.0.1", "BE00AB000007", "b7", "bench.gif"};
  const Stamp stamp{7, 123456, 1700000000123456789};
  const std::string body = WireScanner::StampedBody(stamp, 60);
  const auto found =
      scanner.FindStamp(Codec().EncodeText(client::BuildClientPacket(who, 5, body, "")));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->sequence, stamp.sequence);
  EXPECT_EQ(found->sentNs, stamp.sentNs);
  for (const std::string& packet :
       {client::BuildClientPacket(who, 6, body, ""), client::BuildClientPacket(who, 15, body, ""),
        client::BuildClientPacket(who, 5, "hello ~ there", ""),
        client::BuildClientPacket(who, 5, digitBroken, ""), std::string("~") + body}) {
    EXPECT_FALSE(scanner.FindStamp(Codec().EncodeText(packet)).has_value()) << packet;
  }
}

TEST(LatencyHistogramTest, QuantilesStayWithinTheBucketResolution) {
  for (std::size_t bucket = 0; bucket < 58 * 64; ++bucket) {
    ASSERT_EQ(LatencyHistogram::Bucket(LatencyHistogram::Low(bucket)), bucket);
    ASSERT_EQ(LatencyHistogram::Bucket(LatencyHistogram::Low(bucket + 1) - 1), bucket);
  }
  LatencyHistogram empty;
  EXPECT_EQ(empty.Quantile(0.5), 0u);

  std::mt19937_64 random(42);
  std::lognormal_distribution<double> spread(12.0, 2.0);  // around 160 us, wide
  std::vector<std::uint64_t> values;
  LatencyHistogram first;
  LatencyHistogram second;
  for (int i = 0; i < 20000; ++i) {
    const auto value = static_cast<std::uint64_t>(spread(random));
    values.push_back(value);
    (i % 2 == 0 ? first : second).Record(value);
  }
  first.Merge(second);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(first.Count(), values.size());
  EXPECT_EQ(first.Max(), values.back());
  for (const double q : {0.5, 0.9, 0.99}) {
    const double exact = static_cast<double>(values[static_cast<std::size_t>(q * values.size())]);
    EXPECT_NEAR(static_cast<double>(first.Quantile(q)), exact, exact * 0.016 + 1) << q;
  }
  EXPECT_EQ(first.Quantile(1.0), values.back());
}

}  // namespace
}  // namespace orv::bench
