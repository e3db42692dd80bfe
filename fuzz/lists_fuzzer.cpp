// The block list, the AFS list and the language table over any file content.
//  - Block list: a check answers by what the file holds (IP, then the connection's address,
//    then MAC, then name); a block written for a key holds for that key as IP, MAC and name,
//    changes nothing for other keys, and a cleared one holds no more.
//  - AFS list: a value is the default or not negative and agrees with the file; a value
//    written reads back.
//  - Language table: 41 strings, each the file's or its own key name, never empty, never
//    longer than 99 bytes, without line breaks or zero bytes; numbers outside give " ".
//
// Input: IP, name, MAC, peer address, key to block (each a length byte and bytes), AFS value
// and default (4 bytes each), language name choice, then the file content.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/language_table.h"
#include "console/log_file.h"
#include "files/profile_file.h"
#include "fuzz_support.h"
#include "moderation/afs_list.h"
#include "moderation/block_list.h"
#include "protocol/text_fields.h"
#include "support/fixed_clock.h"

namespace orv::fuzz {
namespace {

using orv::testing::WriteFile;

constexpr std::string_view kBlanks = " \t\v\f\r";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameKey(std::string_view a, std::string_view b) {
  return EqualsIgnoringCase(Trim(a), Trim(b));
}

const char* StateName(BlockState s) {
  switch (s) {
    case BlockState::kNone:
      return "none";
    case BlockState::kIp:
      return "IP";
    case BlockState::kMac:
      return "MAC";
    case BlockState::kName:
      return "name";
    case BlockState::kAddress:
      return "address";
  }
  return "?";
}

struct Probe {
  std::string_view ip, name, mac, peer;
};

// What the list in data must answer for the probe.
BlockState Expected(const ProfileData& data, const Probe& p) {
  if (data.HasNonEmpty("LIST", p.ip)) return BlockState::kIp;
  if (!p.peer.empty() && data.HasNonEmpty("LIST", p.peer)) return BlockState::kAddress;
  if (data.HasNonEmpty("LIST", p.mac)) return BlockState::kMac;
  if (data.HasNonEmpty("LIST", p.name)) return BlockState::kName;
  return BlockState::kNone;
}

bool Mentions(const Probe& p, std::string_view key) {
  return SameKey(p.ip, key) || SameKey(p.name, key) || SameKey(p.mac, key) ||
         (!p.peer.empty() && SameKey(p.peer, key));
}

void CheckState(BlockList& list, const Probe& p, BlockState expected, const char* when) {
  const BlockState got = list.CheckBlockList(p.ip, p.name, p.mac, p.peer);
  ORV_FUZZ_CHECK(got == expected, std::string(when) + ": " + StateName(got) + ", expected " +
                                      StateName(expected) + " for ip [" + Shown(p.ip) + "] name [" +
                                      Shown(p.name) + "] mac [" + Shown(p.mac) + "] peer [" +
                                      Shown(p.peer) + "]");
}

void FuzzBlockList(const std::filesystem::path& dir, const std::string& content, const Probe& p,
                   const std::string& key) {
  WriteFile(dir / "data" / "blocklist.cfg", content);
  BlockList list(dir);
  const BlockState initial = Expected(ProfileData(content), p);
  CheckState(list, p, initial, "as read");
  if (!list.WriteBlockEntry(key)) return;
  CheckState(list, {key, {}, {}, {}}, BlockState::kIp, "blocked key as IP");
  CheckState(list, {{}, {}, {}, key}, BlockState::kAddress, "blocked key as peer");
  CheckState(list, {{}, {}, key, {}}, BlockState::kMac, "blocked key as MAC");
  CheckState(list, {{}, key, {}, {}}, BlockState::kName, "blocked key as name");
  if (!Mentions(p, key)) CheckState(list, p, initial, "after blocking another key");
  ORV_FUZZ_CHECK(list.ClearBlockEntry(key), "clearing a key that was blocked was refused");
  CheckState(list, {key, key, key, key}, BlockState::kNone, "cleared key");
  if (!Mentions(p, key)) CheckState(list, p, initial, "after clearing another key");
}

void FuzzAfsList(const std::filesystem::path& dir, const std::string& content, std::string_view mac,
                 std::int32_t value, std::int32_t fallback) {
  WriteFile(dir / "data" / "afs.cfg", content);
  AfsList afs(dir);
  const std::string stored = ProfileData(content).Get("LIST", mac);
  const std::int32_t number = ParseLeadingNumber(stored);
  const std::int32_t expected = stored.empty() || number < 0 ? fallback : number;
  const std::int32_t got = afs.ReadAfsValue(mac, fallback);
  ORV_FUZZ_CHECK(got == expected, "read " + std::to_string(got) + " for [" + Shown(mac) +
                                      "], expected " + std::to_string(expected));
  ORV_FUZZ_CHECK(got == fallback || got >= 0, std::to_string(got));
  if (!afs.WriteAfsValue(std::string(mac), value)) return;
  const std::int32_t back = afs.ReadAfsValue(mac, fallback);
  ORV_FUZZ_CHECK(back == value, "wrote " + std::to_string(value) + " for [" + Shown(mac) +
                                    "], read " + std::to_string(back));
}

void FuzzLanguage(const std::filesystem::path& dir, const std::string& content,
                  const std::string& name) {
  WriteFile(dir / "language" / ("lang_" + name + ".cfg"), content);
  const orv::testing::FixedClock clock;
  const LogWriter log(dir, clock);
  LanguageTable table;
  ORV_FUZZ_CHECK(!table.LoadLanguage("missing", dir, log) && table.Size() == 0, "missing file");
  ORV_FUZZ_CHECK(table.LoadLanguage(name, dir, log), "the language file did not load");
  ORV_FUZZ_CHECK(table.Size() == kStringCount, std::to_string(table.Size()));
  const ProfileData data(content);
  for (int n = 0; n < kStringCount; ++n) {
    const std::string key = "STR" + std::to_string(n);
    const std::string inFile = data.Get("STRINGS", key);
    const std::string s = table.GetString(n);
    ORV_FUZZ_CHECK(s == (inFile.empty() ? key : inFile), key + " = " + Shown(s));
    ORV_FUZZ_CHECK(!s.empty() && s.size() <= kProfileValueLimit, key + " = " + Shown(s));
    ORV_FUZZ_CHECK(s.find_first_of(std::string_view("\n\0", 2)) == std::string::npos,
                   key + " = " + Shown(s));
  }
  for (const int n : {-1, kStringCount, INT_MIN, INT_MAX})
    ORV_FUZZ_CHECK(table.GetString(n) == " ", std::to_string(n));
}

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  ByteReader in(data, size);
  Probe probe;
  probe.ip = in.Text();
  probe.name = in.Text();
  probe.mac = in.Text();
  probe.peer = in.Text();
  const std::string key(in.Text());
  const auto value = static_cast<std::int32_t>(in.U32() & 0x7FFFFFFF);
  const auto fallback = static_cast<std::int32_t>(in.U32());
  static const char* const kNames[] = {"english", "x", "Deutsch-2"};
  const std::string name = kNames[in.Pick(3)];
  const std::string content(in.Rest());

  const std::filesystem::path dir = ScratchFolder() / "lists";
  ResetFolder(dir);
  FuzzBlockList(dir, content, probe, key);
  FuzzAfsList(dir, content, probe.mac, value, fallback);
  FuzzLanguage(dir, content, name);
  return 0;
}
