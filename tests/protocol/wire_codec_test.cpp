#include "protocol/wire_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace orv {
namespace {

std::string AllBytes() {
  std::string all;
  for (int c = 0; c < 256; ++c)
    all.push_back(static_cast<char>(c));
  return all;
}

TEST(WireCodec, BuiltInPairIsAValidDerangementOfTheSet) {
  const WireCodec& codec = WireCodec::BuiltIn();
  EXPECT_EQ(CheckAlphabet(codec.PlainAlphabet()), "");
  EXPECT_EQ(CheckAlphabet(codec.WireAlphabet()), "");

  const std::string set = AlphabetCharacterSet();
  ASSERT_EQ(set.size(), kAlphabetLength);
  for (const char c : set) {
    EXPECT_NE(codec.EncodeText(std::string(1, c)), std::string(1, c))
        << "fixed point 0x" << std::hex << (static_cast<unsigned>(c) & 0xFF);
  }
  // Framing is only recognised after decoding: no framing character may travel as itself.
  const std::string framing = codec.EncodeText("||//end");
  for (std::size_t i = 0; i < framing.size(); ++i)
    EXPECT_NE(framing[i], "||//end"[i]);
}

TEST(WireCodec, PreservesLengthRoundTripsAndLeavesOtherBytesAlone) {
  const WireCodec& codec = WireCodec::BuiltIn();
  const std::string all = AllBytes();
  const std::string encoded = codec.EncodeText(all);
  ASSERT_EQ(encoded.size(), all.size());
  EXPECT_EQ(codec.DecodeText(encoded), all);
  EXPECT_EQ(codec.EncodeText(codec.DecodeText(all)), all);

  const std::string set = AlphabetCharacterSet();
  for (int c = 0; c < 256; ++c) {
    const bool inSet = set.find(static_cast<char>(c)) != std::string::npos;
    if (!inSet) {
      EXPECT_EQ(encoded[c], all[c]) << "byte " << c;
      EXPECT_EQ(codec.DecodeText(std::string(1, all[c]))[0], all[c]) << "byte " << c;
    }
  }
  EXPECT_EQ(codec.EncodeText("[]"), "[]");
  EXPECT_EQ(codec.DecodeText("[]"), "[]");
  EXPECT_EQ(codec.EncodeText(std::string("\0\r\n\x7F", 4)), std::string("\0\r\n\x7F", 4));
  EXPECT_EQ(codec.EncodeText(""), "");
}

TEST(WireCodec, AppendFormsAddToTheCallersBuffer) {
  const WireCodec& codec = WireCodec::BuiltIn();
  std::string out = "kept";
  codec.EncodeAppend("hello", out);
  EXPECT_EQ(out, "kept" + codec.EncodeText("hello"));
  codec.DecodeAppend(std::string_view(out).substr(4), out);  // input taken from out itself
  EXPECT_EQ(out, "kept" + codec.EncodeText("hello") + "hello");
}

// The encoded example of docs/protocol.md; clients are written against these bytes, so the
// built-in pair must never change by accident.
TEST(WireCodec, BuiltInPairEncodesTheDocumentedExample) {
  const std::string plain = "192.168.0.10(00AABBCCDDEE)||Anna||anna.gif||0.0||1||5||Hi [all]!//end";
  const unsigned char expected[] = {
      0x29, 0x5F, 0x41, 0x39, 0x29, 0x59, 0x5C, 0x39, 0x42, 0x39, 0x29, 0x42, 0xB8, 0x42,
      0x42, 0xEE, 0xEE, 0x63, 0x63, 0xFF, 0xFF, 0x3D, 0x3D, 0x6E, 0x6E, 0xD4, 0x4B, 0x4B,
      0xEE, 0x6C, 0x6C, 0xED, 0x4B, 0x4B, 0xED, 0x6C, 0x6C, 0xED, 0x39, 0x78, 0x4E, 0x2E,
      0x4B, 0x4B, 0x42, 0x39, 0x42, 0x4B, 0x4B, 0x29, 0x4B, 0x4B, 0xE8, 0x4B, 0x4B, 0x72,
      0x4E, 0xF0, 0x5B, 0xED, 0x7E, 0x7E, 0x5D, 0x2B, 0xE3, 0xE3, 0x21, 0x6C, 0x34};
  const std::string wire(reinterpret_cast<const char*>(expected), sizeof expected);
  EXPECT_EQ(WireCodec::BuiltIn().EncodeText(plain), wire);
  EXPECT_EQ(WireCodec::BuiltIn().DecodeText(wire), plain);
}

TEST(WireCodec, AlphabetValidationSaysWhatIsWrong) {
  const std::string set = AlphabetCharacterSet();
  EXPECT_EQ(CheckAlphabet(set), "");

  std::string shortByOne = set;
  shortByOne.erase(shortByOne.find('q'), 1);
  EXPECT_EQ(CheckAlphabet(shortByOne), "is 159 bytes long, must be 160 (misses character 'q')");
  EXPECT_EQ(CheckAlphabet(""), "is 0 bytes long, must be 160 (misses character ' ')");
  EXPECT_EQ(CheckAlphabet(set + "a"),
            "is 161 bytes long, must be 160 (character 'a' appears twice)");

  std::string bracket = set;
  bracket[bracket.find('q')] = '[';
  EXPECT_EQ(CheckAlphabet(bracket), "character 0x5B is not in the alphabet set");
  std::string repeated = set;
  repeated[repeated.find('q')] = 'a';
  EXPECT_EQ(CheckAlphabet(repeated), "character 'a' appears twice");
  std::string highByte = set;
  highByte.back() = '\x80';
  EXPECT_EQ(CheckAlphabet(highByte), "character 0x80 is not in the alphabet set");
  std::string huge(100000, 'x');
  EXPECT_EQ(CheckAlphabet(huge), "is 100000 bytes long, must be 160 (character 'x' appears twice)");
}

TEST(WireCodec, OperatorPairIsValidatedAndUsed) {
  const std::string set = AlphabetCharacterSet();
  std::string reversed(set.rbegin(), set.rend());
  std::string error = "stale";
  auto codec = WireCodec::FromAlphabets(set, reversed, &error);
  ASSERT_TRUE(codec.has_value());
  EXPECT_EQ(error, "");
  EXPECT_EQ(codec->EncodeText(" "), "\xFF");
  EXPECT_EQ(codec->DecodeText("\xFF[x"), " [" + codec->DecodeText("x"));
  const std::string all = AllBytes();
  EXPECT_EQ(codec->DecodeText(codec->EncodeText(all)), all);

  EXPECT_FALSE(WireCodec::FromAlphabets(set.substr(1), reversed, &error).has_value());
  EXPECT_EQ(error, "the plain alphabet is 159 bytes long, must be 160 (misses character ' ')");
  reversed[0] = ']';
  EXPECT_FALSE(WireCodec::FromAlphabets(set, reversed, &error).has_value());
  EXPECT_EQ(error, "the wire alphabet character 0x5D is not in the alphabet set");
  EXPECT_FALSE(WireCodec::FromAlphabets(set, reversed, nullptr).has_value());
}

}  // namespace
}  // namespace orv
