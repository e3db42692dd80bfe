#include "conversation.h"

#include "console/code_page.h"
#include "console/escape.h"
#include "protocol/text_fields.h"

namespace orv::client {

namespace {

ChatLine Line(std::initializer_list<Span> spans) {
  return ChatLine{std::vector<Span>(spans)};
}

Span Event(std::string text) {
  return {std::move(text), Tone::kEvent};
}

// " (away: lunch)" after a name, or nothing for a user who is simply online.
std::string StatusSuffix(int code, std::string_view wireText) {
  if (code == 0 && wireText.empty()) return {};
  if (code == 1 && (wireText.empty() || wireText == "online")) return {};
  return " (" + StatusWords(code, wireText) + ")";
}

}  // namespace

std::string ShownText(std::string_view wire) {
  return Cp1251ToUtf8(EscapeControlCharacters(wire));
}

std::string StatusWords(int code, std::string_view wireText) {
  const std::string text = ShownText(wireText);
  std::string word;
  switch (code) {
    case 1:
      word = "online";
      break;
    case 2:
      word = "away";
      break;
    case 3:
      word = "busy";
      break;
    default:
      if (code == 0) return text.empty() ? "no status" : text;
      return text.empty() ? "status " + std::to_string(code)
                          : text + " (status " + std::to_string(code) + ")";
  }
  if (text.empty() || text == word) return word;
  return word + ": " + text;
}

Conversation::Conversation(std::string ownMac) : ownMac_(std::move(ownMac)) {}

void Conversation::Connected() {
  serverHeader_.clear();
  echoSeen_ = false;
  serverTextSeen_ = false;
  listArriving_ = false;
  pendingList_.clear();
}

Conversation::Outcome Conversation::Take(const PacketStream::Item& item) {
  Outcome outcome;
  if (item.kind == PacketStream::Item::Kind::kSocketErrorNotice) {
    outcome.lines.push_back(
        Line({{"-!- the server reports a socket error on one of its connections", Tone::kServer}}));
    return outcome;
  }
  const ParsedPacket packet = ParsePacket(item.text);
  if (!packet.wellFormed()) {
    outcome.lines.push_back(
        Line({{"!! a malformed packet arrived: ", Tone::kWarning}, {ShownText(item.text)}}));
    return outcome;
  }
  if (FromServer(packet)) {
    TakeServerPacket(packet, outcome);
    return outcome;
  }
  if (IsStatusType(packet.type)) {
    TakeStatus(packet, outcome);
    return outcome;
  }
  switch (packet.type) {
    case packet_type::kChat:
    case packet_type::kServerText:  // from a client: its words, not the server's
      outcome.lines.push_back(
          Line({NameSpan(packet.mac, packet.name), {": "}, {ShownText(packet.body)}}));
      break;
    case packet_type::kBoardFile: {
      const std::string_view body = packet.body;
      const std::string_view content = ExtractField(body, ";", Side::kAfter);
      outcome.lines.push_back(
          Line({Event("* "), NameSpan(packet.mac, packet.name),
                Event(" posted the file " + ShownText(ExtractField(body, ";", Side::kBefore)) +
                      " (" + std::to_string(content.size()) + " bytes)")}));
      break;
    }
    default:
      // Profile requests, lists and values of the server's types from anybody else, and
      // types clients use among themselves: not for people (--raw shows them).
      break;
  }
  return outcome;
}

bool Conversation::FromServer(const ParsedPacket& packet) {
  const std::string header = packet.ip + "(" + packet.mac + ")" + packet.name;
  if (serverHeader_.empty()) {
    // The server speaks first on a connection (the welcome, or the list this client asked
    // for); from then on its packets are told by their header, so a client that writes the
    // server's types under another header is shown as the client it is.
    if (!IsServerType(packet.type) || packet.avatar != kServerAvatar) return false;
    serverHeader_ = header;
    serverName_ = packet.name;
    return true;
  }
  return header == serverHeader_ && IsServerType(packet.type);
}

void Conversation::TakeServerPacket(const ParsedPacket& packet, Outcome& outcome) {
  const std::string payload(ServerPayload(packet));
  switch (packet.type) {
    case packet_type::kServerText: {
      const bool welcome = !echoSeen_ && !serverTextSeen_;
      serverTextSeen_ = true;
      if (welcome) {
        // Every connection is welcomed; a reconnecting client has read it already.
        if (payload == welcome_) return;
        welcome_ = payload;
      }
      outcome.lines.push_back(
          Line({{"-!- " + ShownText(packet.name) + ": " + ShownText(payload), Tone::kServer}}));
      return;
    }
    case packet_type::kUserList:
      if (packet.subject != ownMac_) return;  // the answer to somebody else's announcement
      listArriving_ = true;
      for (UserEntry& entry : ParseUserList(payload))
        pendingList_.push_back(std::move(entry));
      return;
    case packet_type::kAfsValue:
      outcome.afs = ParseLeadingNumber(payload);
      outcome.refreshed = true;
      return;
    case packet_type::kProfile:
      outcome.lines.push_back(
          Line({{"-!- the profile of " + ShownText(packet.name) + ":", Tone::kServer}}));
      for (const auto& [tag, value] : ParseProfileTags(payload)) {
        outcome.lines.push_back(
            Line({{"    " + ShownText(tag) + ": ", Tone::kServer}, {ShownText(value)}}));
      }
      return;
    default:
      return;
  }
}

void Conversation::TakeStatus(const ParsedPacket& packet, Outcome& outcome) {
  const bool own = packet.mac == ownMac_;
  if (own && packet.type == packet_type::kAnnounce) {
    TakeOwnEcho(outcome);
    if (!roster_.Find(packet.mac)) return;  // no list came (a refused announcement)
  }
  const Roster::Change change = roster_.ApplyStatus(packet);
  const Member* member = roster_.Find(packet.mac);
  outcome.rosterChanged =
      outcome.rosterChanged || change.joined || change.renamed || change.statusChanged;
  if (change.joined) {
    if (!own) {
      outcome.lines.push_back(
          Line({Event("* "), NameSpan(packet.mac, packet.name),
                Event(" joined" + StatusSuffix(member->statusCode, member->statusText))}));
    }
    return;
  }
  if (change.renamed) {
    outcome.lines.push_back(Line({Event("* " + ShownText(change.oldName) + " is now known as "),
                                  NameSpan(packet.mac, packet.name)}));
  }
  if (change.statusChanged) {
    const std::string words = StatusWords(member->statusCode, member->statusText);
    const bool numbered = member->statusCode > 3 || member->statusCode == 0;
    outcome.lines.push_back(Line({Event("* "), NameSpan(packet.mac, packet.name),
                                  Event((numbered ? "'s status: " : " is ") + words)}));
  }
}

void Conversation::TakeOwnEcho(Outcome& outcome) {
  echoSeen_ = true;
  if (!listArriving_) return;
  listArriving_ = false;
  const Roster::Difference difference = roster_.Replace(pendingList_);
  pendingList_.clear();
  outcome.listed = true;
  outcome.rosterChanged = true;
  if (!everListed_) {
    everListed_ = true;
    std::string names;
    for (const Member& member : roster_.Sorted()) {
      if (member.mac == ownMac_) continue;
      names += (names.empty() ? "" : ", ") + ShownText(member.name);
    }
    outcome.lines.push_back(
        Line({Event(names.empty() ? "* nobody else is online" : "* online: " + names)}));
    return;
  }
  for (const Member& member : difference.left) {
    outcome.lines.push_back(Line({Event("* "), NameSpan(member.mac, member.name), Event(" left")}));
  }
  for (const Member& member : difference.joined) {
    if (member.mac == ownMac_) continue;
    outcome.lines.push_back(
        Line({Event("* "), NameSpan(member.mac, member.name), Event(" joined")}));
  }
}

Span Conversation::NameSpan(std::string_view mac, std::string_view wireName) const {
  return {ShownText(wireName), mac == ownMac_ ? Tone::kOwnName : Tone::kName};
}

std::vector<ChatLine> Conversation::WhoLines() const {
  std::vector<ChatLine> lines;
  const std::vector<Member> members = roster_.Sorted();
  if (members.empty()) {
    lines.push_back(Line({{"-- nobody is known to be online yet", Tone::kNotice}}));
    return lines;
  }
  lines.push_back(Line({{"-- " + std::to_string(members.size()) + " online:", Tone::kNotice}}));
  for (const Member& member : members) {
    lines.push_back(Line(
        {{"     "},
         NameSpan(member.mac, member.name),
         Event(StatusSuffix(member.statusCode, member.statusText) + "  " + ShownText(member.ip))}));
  }
  return lines;
}

}  // namespace orv::client
