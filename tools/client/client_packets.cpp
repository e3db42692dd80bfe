#include "client_packets.h"

#include "protocol/text_fields.h"

namespace orv::client {

namespace {

std::string Text(std::string_view view) {
  return std::string(view);
}

// Splits off the text before the first separator; false when there is none.
bool TakeField(std::string_view& rest, std::string& field) {
  const std::size_t at = rest.find(kFieldSeparator);
  if (at == std::string_view::npos) return false;
  field = Text(rest.substr(0, at));
  rest.remove_prefix(at + kFieldSeparator.size());
  return true;
}

std::string StatusSummary(std::string_view body) {
  const std::size_t colon = body.find(':');
  if (colon == std::string_view::npos) return "status ?: " + Text(body);
  return "status " + std::to_string(ParseLeadingNumber(body.substr(0, colon))) + ": " +
         Text(body.substr(colon + 1));
}

std::string UserSummary(const UserEntry& user) {
  return user.name + " [" + user.mac + ", " + user.ip + ", status " + user.code + " \"" +
         user.statusText + "\", " + user.avatar + ", state " + user.stateFlag + "]";
}

std::string UserRow(const UserEntry& user) {
  return user.name + "  mac " + user.mac + "  ip " + user.ip + "  status " + user.code + ":" +
         user.statusText + "  avatar " + user.avatar + "  state " + user.stateFlag;
}

std::string StatusPrefix(std::int32_t type) {
  switch (type) {
    case packet_type::kAnnounce:
      return "announce ";
    case packet_type::kStateSet:
      return "state on, ";
    case packet_type::kStateClear:
      return "state off, ";
    default:
      return "";
  }
}

void AppendTextLines(std::string_view text, std::vector<std::string>& lines) {
  while (true) {
    const std::size_t at = text.find('\n');
    std::string_view line = text.substr(0, at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back("  " + Text(line));
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

std::string BuildClientPacket(const Identity& who, int type, std::string_view body,
                              std::string_view subject, std::string_view flag) {
  std::string packet;
  packet.reserve(who.ip.size() + who.mac.size() + who.name.size() + who.avatar.size() +
                 subject.size() + flag.size() + body.size() + 32);
  packet += who.ip;
  packet += '(';
  packet += who.mac;
  packet += ')';
  packet += kFieldSeparator;
  packet += who.name;
  packet += kFieldSeparator;
  packet += who.avatar;
  packet += kFieldSeparator;
  packet += subject;
  packet += kFieldSeparator;
  packet += flag;
  packet += kFieldSeparator;
  packet += std::to_string(type);
  packet += kFieldSeparator;
  packet += body;
  packet += kTerminator;
  return packet;
}

std::string StatusBody(int code, std::string_view text) {
  return std::to_string(code) + ":" + Text(text);
}

PacketStream::PacketStream(const WireCodec& codec)
    : codec_(codec), encodedTerminator_(codec.EncodeText(kTerminator)) {}

void PacketStream::Feed(std::string_view wire, std::vector<Item>& out) {
  pending_.append(wire);
  constexpr auto npos = std::string::npos;
  std::size_t start = 0;
  // Looked for once, and again only once it has been taken out or passed.
  std::size_t notice = pending_.find(kSocketErrorNotice);
  while (start < pending_.size()) {
    if (notice != npos && notice < start) notice = pending_.find(kSocketErrorNotice, start);
    const std::size_t terminator = pending_.find(encodedTerminator_, start);
    if (notice != npos && (terminator == npos || notice < terminator)) {
      // The notice may fall inside a packet that reached the server in two receives; taking
      // it out gives the packet back whole.
      out.push_back({Item::Kind::kSocketErrorNotice, Text(kSocketErrorNotice)});
      pending_.erase(notice, kSocketErrorNotice.size());
      // What stood on either side may now form another notice.
      const std::size_t overlap = kSocketErrorNotice.size() - 1;
      notice =
          pending_.find(kSocketErrorNotice, notice > start + overlap ? notice - overlap : start);
      continue;
    }
    if (terminator == npos) break;
    out.push_back({Item::Kind::kPacket, codec_.DecodeText(std::string_view(pending_).substr(
                                            start, terminator - start))});
    start = terminator + encodedTerminator_.size();
  }
  pending_.erase(0, start);
}

std::string PacketStream::PendingText() const {
  return codec_.DecodeText(pending_);
}

ParsedPacket ParsePacket(std::string_view decoded) {
  ParsedPacket packet;
  if (const std::size_t end = decoded.find(kTerminator); end != std::string_view::npos) {
    decoded = decoded.substr(0, end);
  }
  const std::size_t open = decoded.find('(');
  const std::size_t close = decoded.find(")||");
  if (open == std::string_view::npos) {
    packet.problem = "no \"(\" after the IP";
  } else {
    packet.ip = Text(decoded.substr(0, open));
  }
  if (close == std::string_view::npos) {
    if (packet.problem.empty()) packet.problem = "no \")||\" after the MAC";
  } else if (open != std::string_view::npos && open < close) {
    packet.mac = Text(decoded.substr(open + 1, close - open - 1));
  }
  std::string_view rest = decoded;
  std::string ignored;
  bool complete = TakeField(rest, ignored) && TakeField(rest, packet.name) &&
                  TakeField(rest, packet.avatar) && TakeField(rest, packet.subject) &&
                  TakeField(rest, packet.flag) && TakeField(rest, packet.typeText);
  if (complete) {
    packet.body = Text(rest);
  } else if (packet.problem.empty()) {
    packet.problem = "fewer than six \"||\" separators";
  }
  packet.type = ParseLeadingNumber(packet.typeText);
  if (complete && packet.typeText.empty()) packet.problem = "empty type field";
  return packet;
}

bool IsServerType(std::int32_t type) {
  return type == packet_type::kServerText || type == packet_type::kProfile ||
         type == packet_type::kUserList || type == packet_type::kAfsValue;
}

std::string_view ServerPayload(const ParsedPacket& packet) {
  std::string_view body = packet.body;
  if (IsServerType(packet.type) && body.starts_with(kServerBodyPrefix)) {
    body.remove_prefix(kServerBodyPrefix.size());
  }
  return body;
}

std::vector<UserEntry> ParseUserList(std::string_view payload) {
  std::vector<UserEntry> users;
  while (true) {
    const std::size_t open = payload.find(kListEntryOpen);
    if (open == std::string_view::npos) break;
    payload.remove_prefix(open + kListEntryOpen.size());
    const std::size_t close = payload.find(kListEntryClose);
    if (close == std::string_view::npos) break;
    const std::string_view entry = payload.substr(0, close);
    payload.remove_prefix(close + kListEntryClose.size());

    UserEntry user;
    for (const auto& [tag, value] : ParseProfileTags(entry)) {
      if (tag == "U1") user.name = value;
      if (tag == "U2") user.mac = value;
      if (tag == "U3") user.ip = value;
      if (tag == "U4") user.statusText = value;
      if (tag == "U5") user.avatar = value;
      if (tag == "U6") user.code = value;
      if (tag == "U7") user.stateFlag = value;
    }
    users.push_back(std::move(user));
  }
  return users;
}

std::vector<std::pair<std::string, std::string>> ParseProfileTags(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> tags;
  while (true) {
    const std::size_t open = text.find('|');
    if (open == std::string_view::npos) break;
    const std::size_t nameEnd = text.find('|', open + 1);
    if (nameEnd == std::string_view::npos) break;
    const std::string_view tag = text.substr(open + 1, nameEnd - open - 1);
    if (tag.empty() || tag.front() == '/') {
      text.remove_prefix(nameEnd);
      continue;
    }
    const std::string closing = "|/" + Text(tag) + "|";
    const std::size_t close = text.find(closing, nameEnd + 1);
    if (close == std::string_view::npos) {
      text.remove_prefix(nameEnd);
      continue;
    }
    tags.emplace_back(Text(tag), Text(text.substr(nameEnd + 1, close - nameEnd - 1)));
    text.remove_prefix(close + closing.size());
  }
  return tags;
}

std::string EscapeLine(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string DescribeLine(const ParsedPacket& packet) {
  if (!packet.wellFormed()) return "malformed packet (" + packet.problem + ")";
  std::string line = std::to_string(packet.type) + " " + packet.name + ": ";
  const std::string_view payload = ServerPayload(packet);
  switch (packet.type) {
    case packet_type::kChat:
    case packet_type::kServerText:
      line += payload;
      break;
    case packet_type::kProfileRequest:
      line += "profile request: " + Text(payload);
      break;
    case packet_type::kProfile: {
      line += "profile:";
      for (const auto& [tag, value] : ParseProfileTags(payload)) {
        line += " " + tag + "=" + value + ";";
      }
      if (line.back() == ';') line.pop_back();
      break;
    }
    case packet_type::kBoardFile:
      line += "file " + Text(ExtractField(payload, ";", Side::kBefore)) + ": " +
              Text(ExtractField(payload, ";", Side::kAfter));
      break;
    case packet_type::kUserList: {
      const std::vector<UserEntry> users = ParseUserList(payload);
      line += "user list (" + std::to_string(users.size()) + ")";
      for (std::size_t i = 0; i < users.size(); ++i) {
        line += (i == 0 ? ": " : "; ") + UserSummary(users[i]);
      }
      break;
    }
    case packet_type::kAfsValue:
      line += "AFS value " + Text(payload);
      break;
    default:
      if (IsStatusType(packet.type)) {
        line += StatusPrefix(packet.type) + StatusSummary(payload);
      } else {
        line += payload;
      }
  }
  return EscapeLine(line);
}

std::vector<std::string> DescribeLines(const ParsedPacket& packet) {
  std::vector<std::string> lines;
  if (!packet.wellFormed()) {
    lines.push_back("malformed packet (" + packet.problem + ")");
    return lines;
  }
  const std::string heading = packet.name + " (type " + std::to_string(packet.type) + ")";
  const std::string_view payload = ServerPayload(packet);
  if (packet.type == packet_type::kUserList) {
    const std::vector<UserEntry> users = ParseUserList(payload);
    lines.push_back(heading + ": user list, " + std::to_string(users.size()) + " entries");
    for (const UserEntry& user : users)
      lines.push_back("  " + UserRow(user));
    return lines;
  }
  if (packet.type == packet_type::kProfile) {
    lines.push_back(heading + ": profile");
    for (const auto& [tag, value] : ParseProfileTags(payload)) {
      lines.push_back("  " + tag + ": " + value);
    }
    return lines;
  }
  if (packet.type == packet_type::kBoardFile) {
    lines.push_back(heading + ": file " + Text(ExtractField(payload, ";", Side::kBefore)));
    AppendTextLines(ExtractField(payload, ";", Side::kAfter), lines);
    return lines;
  }
  if (packet.type == packet_type::kAfsValue) {
    lines.push_back(heading + ": AFS value " + Text(payload));
    return lines;
  }
  if (IsStatusType(packet.type)) {
    lines.push_back(heading + ": " + StatusPrefix(packet.type) + StatusSummary(payload));
    return lines;
  }
  // A line break in a message stays in its line (shown escaped), so no sender can make a
  // line that looks like another sender's.
  lines.push_back(heading + ": " + Text(payload));
  return lines;
}

}  // namespace orv::client
