// The settings file: tag blocks, the start-up settings and the substitution pair, over any
// content.
//  - Tag blocks: a value is never longer than the content; a block written at the front
//    (LF or CR LF line ends) reads back as the value it was made from; the file, cached and
//    uncached reads agree with the text.
//  - Start-up settings: a name and a language of at least 2 characters, a title that names
//    the server, limits that are never negative and equal the leading digits of their value
//    (or the largest value), at least one report line.
//  - Substitution pair: a codec or a reason, never both; a codec encodes and decodes back,
//    keeps lengths and leaves bytes outside the alphabet set alone; a valid pair is taken.
//
// Input: flags, the key to look up, a value for the front block (a length byte and bytes
// each), a seed for an alphabet pair, then the content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "console/console_output.h"
#include "console/language_table.h"
#include "console/log_file.h"
#include "files/tagged_file.h"
#include "fuzz_support.h"
#include "moderation/alphabet_settings.h"
#include "moderation/settings.h"
#include "moderation/settings_loader.h"
#include "protocol/wire_codec.h"
#include "support/fixed_clock.h"
#include "support/recording_sink.h"

namespace orv::fuzz {
namespace {

using orv::testing::WriteFile;

// value as tag-block lines: each run of other bytes on a line of its own, each line break
// as an empty line.
std::string Block(std::string_view key, std::string_view value, std::string_view lineEnd) {
  std::string block = "<" + std::string(key) + ">" + std::string(lineEnd);
  for (std::size_t pos = 0; pos < value.size();) {
    if (value[pos] == '\n') {
      block += lineEnd;
      ++pos;
      continue;
    }
    const std::size_t end = std::min(value.find('\n', pos), value.size());
    block.append(value.substr(pos, end - pos)).append(lineEnd);
    pos = end;
  }
  return block + "</" + std::string(key) + ">" + std::string(lineEnd);
}

// Whether Block(key, value) must read back as value: one line per run, none of them a tag
// line of the key, no carriage returns that line ends could swallow.
bool RoundTrips(std::string_view key, std::string_view value) {
  if (value.empty() || key.find_first_of("\r\n") != key.npos) return false;
  if (value.find('\r') != value.npos) return false;
  const std::string open = "<" + std::string(key) + ">";
  const std::string close = "</" + std::string(key) + ">";
  for (std::size_t pos = 0; pos <= value.size();) {
    const std::size_t end = std::min(value.find('\n', pos), value.size());
    const std::string_view line = value.substr(pos, end - pos);
    if (line == open || line == close) return false;
    pos = end + 1;
  }
  return true;
}

void FuzzTaggedValues(const std::filesystem::path& dir, std::string_view key,
                      std::string_view value, const std::string& content) {
  const std::string found = ReadTaggedValueFrom(content, key);
  ORV_FUZZ_CHECK(found.size() <= content.size(), Shown(found));
  const std::filesystem::path file = dir / "tags.cfg";
  WriteFile(file, content);
  ORV_FUZZ_CHECK(ReadTaggedValue(file, key) == found, Shown(key));
  TaggedFile cached(file);
  const std::string keyText(key);
  ORV_FUZZ_CHECK(cached.Read(keyText) == found && cached.ReadRef(keyText) == found, Shown(key));
  ORV_FUZZ_CHECK(ReadTaggedValue(dir / "missing.cfg", key) == kReadFalse, "missing file");

  if (!RoundTrips(key, value)) return;
  for (const std::string_view lineEnd : {"\n", "\r\n"}) {
    const std::string text = Block(key, value, lineEnd) + content;
    const std::string back = ReadTaggedValueFrom(text, key);
    ORV_FUZZ_CHECK(back == value, "<" + Shown(key) + "> [" + Shown(value) + "] read back as [" +
                                      Shown(back) + "]");
  }
}

// The trimmed value when it is a whole number from low to high (digits only, at most 18 of
// them); nothing otherwise, and the setting keeps its default.
std::optional<std::int64_t> LimitOf(const std::string& content, const char* key, std::int64_t low,
                                    std::int64_t high) {
  const std::string value = ReadTaggedValueFrom(content, key);
  const auto first = value.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string::npos) return std::nullopt;
  const auto last = value.find_last_not_of(" \t\n\v\f\r");
  const std::string digits = value.substr(first, last - first + 1);
  if (digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const std::int64_t number = std::stoll(digits);
  if (number < low || number > high) return std::nullopt;
  return number;
}

template <typename Field>
void CheckLimit(const std::string& content, const char* key, Field field, Field fallback,
                std::int64_t low, std::int64_t high) {
  const std::optional<std::int64_t> expected = LimitOf(content, key, low, high);
  const std::int64_t want = expected.value_or(static_cast<std::int64_t>(fallback));
  ORV_FUZZ_CHECK(
      static_cast<std::int64_t>(field) == want,
      std::string(key) + " is " + std::to_string(field) + ", expected " + std::to_string(want));
}

// Report lines that show their number, with a conversion where the server fills one in.
std::string LanguageFile() {
  std::string file = "[STRINGS]\r\n";
  for (int n = 0; n < kStringCount; ++n) {
    file += "STR" + std::to_string(n) + "=S" + std::to_string(n) + (n % 3 == 0 ? " %d" : " %s");
    file += "\r\n";
  }
  return file;
}

void FuzzLoadSettings(const std::filesystem::path& dir, const std::string& content) {
  static const std::string kLanguage = LanguageFile();
  WriteFile(dir / "language" / "lang_english.cfg", kLanguage);
  WriteFile(dir / kSettingsFileName, content);
  const orv::testing::FixedClock clock;
  const LogWriter log(dir, clock);
  orv::testing::RecordingSink sink;
  Settings settings;
  const Settings defaults;
  LanguageTable language;
  Console console(settings, log, clock, sink);
  std::string title;
  SettingsLoadContext context{dir,
                              settings,
                              language,
                              log,
                              console,
                              [&title](const std::string& t) { title = t; },
                              [](const std::string& ip) { return ip; }};
  LoadSettings(context);

  ORV_FUZZ_CHECK(settings.ServerName.size() >= 2, Shown(settings.ServerName));
  ORV_FUZZ_CHECK(settings.ServerLanguage.size() >= 2, Shown(settings.ServerLanguage));
  const std::string named = " (" + settings.ServerName + ")";
  ORV_FUZZ_CHECK(title.size() >= named.size() &&
                     title.compare(title.size() - named.size(), named.size(), named) == 0,
                 Shown(title));
  ORV_FUZZ_CHECK(!sink.all.empty(), "no report line");
  constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
  CheckLimit(content, "MaxPacketSize", settings.MaxPacketSize, defaults.MaxPacketSize, 64,
             kInt32Max);
  CheckLimit(content, "MaxUsersPerConnection", settings.MaxUsersPerConnection,
             defaults.MaxUsersPerConnection, 1, kInt32Max);
  CheckLimit(content, "BoardQuota", settings.BoardQuota, defaults.BoardQuota, 0,
             std::numeric_limits<std::int64_t>::max() / 10);
  CheckLimit(content, "BoardFileLimit", settings.BoardFileLimit, defaults.BoardFileLimit, 0,
             kInt32Max);
  CheckLimit(content, "IdleTimeout", settings.IdleTimeout, defaults.IdleTimeout, 0, kInt32Max);
  CheckLimit(content, "MaxConnectionsPerAddress", settings.MaxConnectionsPerAddress,
             defaults.MaxConnectionsPerAddress, 0, kInt32Max);
  CheckLimit(content, "LogKeepDays", settings.LogKeepDays, defaults.LogKeepDays, 0, 100000);
}

// A pair drawn from seed, spoilt as flags ask: one character doubled, one missing, a byte
// from outside the set, a line break inside, or only one of the two given.
std::string AlphabetBlocks(std::uint32_t seed, std::uint8_t flags, bool& valid) {
  std::minstd_rand random(seed);
  std::string plain = AlphabetCharacterSet();
  std::string wire = plain;
  std::shuffle(plain.begin(), plain.end(), random);
  std::shuffle(wire.begin(), wire.end(), random);
  std::string& spoilt = (flags & 0x10) != 0 ? wire : plain;
  const std::size_t at = random() % plain.size();
  valid = true;
  switch ((flags >> 1) & 7) {
    case 1:
      spoilt[at] = spoilt[(at + 1) % spoilt.size()];
      valid = false;
      break;
    case 2:
      spoilt.erase(at, 1);
      valid = false;
      break;
    case 3:
      spoilt[at] = static_cast<char>(random() % 0x20);
      valid = false;
      break;
    case 4:
      spoilt.insert(at, "\n");
      valid = false;
      break;
    case 5:
      valid = false;
      return Block("ServerPlainAlphabet", plain, "\n");
    default:
      break;
  }
  return Block("ServerPlainAlphabet", plain, "\n") + Block("ServerWireAlphabet", wire, "\r\n");
}

void CheckCodec(const WireCodec& codec, std::string_view sample) {
  const std::string encoded = codec.EncodeText(sample);
  ORV_FUZZ_CHECK(encoded.size() == sample.size(), "length");
  ORV_FUZZ_CHECK(codec.DecodeText(encoded) == sample, Shown(sample));
  const std::string set = AlphabetCharacterSet();
  for (int c = 0; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    const std::string e = codec.EncodeText(one);
    const bool inSet = set.find(static_cast<char>(c)) != std::string::npos;
    ORV_FUZZ_CHECK(inSet ? set.find(e[0]) != std::string::npos : e == one, std::to_string(c));
  }
}

void FuzzCodec(const std::filesystem::path& dir, const std::string& content, bool mustBeValid) {
  const std::filesystem::path file = dir / kSettingsFileName;
  WriteFile(file, content);
  std::string error;
  const std::optional<WireCodec> codec = CodecFromSettings(file, &error);
  ORV_FUZZ_CHECK(codec.has_value() == error.empty(), error);
  ORV_FUZZ_CHECK(codec || !mustBeValid, "a valid pair was refused: " + error);
  if (!codec) {
    ORV_FUZZ_CHECK(error.find(file.string()) != std::string::npos, error);
    return;
  }
  const std::string plain = ReadTaggedValueFrom(content, "ServerPlainAlphabet");
  const std::string wire = ReadTaggedValueFrom(content, "ServerWireAlphabet");
  if (plain.empty() && wire.empty()) {
    ORV_FUZZ_CHECK(codec->PlainAlphabet() == WireCodec::BuiltIn().PlainAlphabet(), "built-in");
  } else {
    ORV_FUZZ_CHECK(codec->PlainAlphabet() == plain && codec->WireAlphabet() == wire, "as given");
  }
  CheckCodec(*codec, content);
}

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  ByteReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::string_view key = in.Text();
  const std::string_view value = in.Text();
  const std::uint32_t seed = in.U32();
  std::string content(in.Rest());

  const std::filesystem::path dir = ScratchFolder() / "settings";
  ResetFolder(dir);
  FuzzTaggedValues(dir, key, value, content);
  FuzzLoadSettings(dir, content);
  bool valid = false;
  if ((flags & 1) != 0) content = AlphabetBlocks(seed, flags, valid) + content;
  FuzzCodec(dir, content, valid);
  return 0;
}
