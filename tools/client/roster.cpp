#include "roster.h"

#include <algorithm>

#include "protocol/text_fields.h"

namespace orv::client {

namespace {

// A status number as the server reads it; "n/a" is how the list says "no status text".
Member FromEntry(const UserEntry& entry) {
  Member member;
  member.mac = entry.mac;
  member.name = entry.name;
  member.ip = entry.ip;
  member.statusCode = ParseLeadingNumber(entry.code);
  member.statusText = entry.statusText == "n/a" ? std::string() : entry.statusText;
  return member;
}

}  // namespace

Roster::Change Roster::ApplyStatus(const ParsedPacket& packet) {
  Change change;
  const std::string_view body = packet.body;
  const int code = ParseLeadingNumber(ExtractField(body, ":", Side::kBefore));
  const std::string text(ExtractField(body, ":", Side::kAfter));
  Member* member = FindMutable(packet.mac);
  if (member == nullptr) {
    members_.push_back({packet.mac, packet.name, packet.ip, code, text});
    change.joined = true;
    return change;
  }
  if (member->name != packet.name) {
    change.renamed = true;
    change.oldName = member->name;
    member->name = packet.name;
  }
  member->ip = packet.ip;
  if (code != 0 && code != member->statusCode) {
    member->statusCode = code;
    change.statusChanged = true;
  }
  if (!text.empty() && text != member->statusText) {
    member->statusText = text;
    change.statusChanged = true;
  }
  return change;
}

Roster::Difference Roster::Replace(const std::vector<UserEntry>& entries) {
  std::vector<Member> fresh;
  for (const UserEntry& entry : entries) {
    if (entry.mac.empty()) continue;
    const bool repeated = std::any_of(fresh.begin(), fresh.end(),
                                      [&](const Member& m) { return m.mac == entry.mac; });
    if (!repeated) fresh.push_back(FromEntry(entry));
  }
  Difference difference;
  for (const Member& member : fresh) {
    if (Find(member.mac) == nullptr) difference.joined.push_back(member);
  }
  for (const Member& member : members_) {
    const bool stays = std::any_of(fresh.begin(), fresh.end(),
                                   [&](const Member& m) { return m.mac == member.mac; });
    if (!stays) difference.left.push_back(member);
  }
  members_ = std::move(fresh);
  return difference;
}

const Member* Roster::Find(std::string_view mac) const {
  for (const Member& member : members_) {
    if (member.mac == mac) return &member;
  }
  return nullptr;
}

Member* Roster::FindMutable(std::string_view mac) {
  return const_cast<Member*>(Find(mac));
}

std::vector<Member> Roster::Sorted() const {
  std::vector<Member> sorted = members_;
  std::sort(sorted.begin(), sorted.end(), [](const Member& a, const Member& b) {
    const auto key = [](const Member& m) {
      std::string folded;
      for (const char c : m.name) {
        const auto byte = static_cast<unsigned char>(c);
        // ASCII and Cyrillic letters without regard to case.
        if (byte >= 'A' && byte <= 'Z') {
          folded += static_cast<char>(byte + 32);
        } else if (byte >= 0xC0 && byte <= 0xDF) {
          folded += static_cast<char>(byte + 32);
        } else {
          folded += c;
        }
      }
      return folded;
    };
    const std::string ka = key(a);
    const std::string kb = key(b);
    if (ka != kb) {
      return std::lexicographical_compare(
          ka.begin(), ka.end(), kb.begin(), kb.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
          });
    }
    return a.mac < b.mac;
  });
  return sorted;
}

}  // namespace orv::client
