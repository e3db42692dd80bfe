// The dispatcher: what the server does with one received unit before relaying it.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "server/chat_server.h"

namespace orv {

namespace {

// The body begins with the server's name: the text in front of the first occurrence of the
// name is exactly the type field and its separator.
bool AddressedToServer(std::string_view typeAndBody, std::string_view prefix,
                       std::string_view serverName) {
  if (serverName.empty()) return false;
  const auto at = typeAndBody.find(serverName);
  return at != std::string_view::npos && typeAndBody.substr(0, at) == prefix;
}

std::string_view TrimBlanksAndColons(std::string_view text) {
  auto skip = [](char c) { return c == ' ' || c == ':'; };
  while (!text.empty() && skip(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && skip(text.back()))
    text.remove_suffix(1);
  return text;
}

// Board file names come from clients: only a plain name inside board/ is accepted.
bool IsSafeBoardName(std::string_view name) {
  if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == ':' || byte < 0x20) return false;
  }
  return true;
}

}  // namespace

std::string ChatServer::ParseMessage(std::string_view received, Connection* connection) {
  AssertEngineThread();
  return Dispatch(received, connection) ? std::string(received) : std::string("BLOCK");
}

bool ChatServer::Dispatch(std::string_view received, Connection* connection) {
  Trace("::: parse proccess");
  scratch_.clear();
  env_.codec.DecodeAppend(received, scratch_);
  if (!IsTerminatedPacket(scratch_)) {
    Trace("::: parse proccess OK (3)");
    return true;
  }
  const PacketHeader header = ReadPacketHeader(scratch_);
  const std::string_view msg = header.typeAndBody;
  const ConnectionKey key = connection ? connection->Key() : ConnectionKey{};
  const std::string_view peer = connection ? std::string_view(connection->PeerAddress()) : "";

  if (IsStatusType(header.type)) {
    const std::string_view rest = ExtractField(msg, kFieldSeparator, Side::kAfter);
    const std::int32_t code = ParseLeadingNumber(ExtractField(rest, ":", Side::kBefore));
    const std::string_view text = ExtractField(rest, ":", Side::kAfter);
    const std::int32_t afs = afsList_.ReadAfsValue(header.mac, settings_.FloodStopper);
    users_.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, text, code,
                       afs);
  } else {
    users_.AddOrUpdate(header.mac, header.ip, header.name, key, peer, header.avatar, {}, 0,
                       users_.FindAfs(header.mac));
  }

  if (header.type == packet_type::kStateSet) users_.SetStateFlag(header.mac, true);
  if (header.type == packet_type::kStateClear) users_.SetStateFlag(header.mac, false);

  // Nothing of a blocked sender is relayed or answered, whatever the packet's type.
  if (RefuseBlocked(header, connection)) return false;

  switch (header.type) {
    case packet_type::kChat:
      if (AddressedToServer(msg, "5||", settings_.ServerName)) {
        const std::string command(
            TrimBlanksAndColons(ExtractField(msg, settings_.ServerName, Side::kAfter)));
        const std::string answer = ReadCommandText(command);
        if (!answer.empty()) {
          SendDirect(connection, EncodePacket(answer, packet_type::kServerText, header.mac), true);
        }
      }
      Trace("::: parse proccess OK (1)");
      return true;
    case packet_type::kProfileRequest:
      if (!AddressedToServer(msg, "14||", settings_.ServerName)) return true;
      SendDirect(connection, EncodePacket(BuildServerProfile(), packet_type::kProfile, header.mac),
                 true);
      break;
    case packet_type::kBoardFile: {
      const std::string_view beforeSemicolon = ExtractField(msg, ";", Side::kBefore);
      if (msg.find(';') != std::string_view::npos) {
        WriteBoardFile(ExtractField(beforeSemicolon, kFieldSeparator, Side::kAfter),
                       ExtractField(msg, ";", Side::kAfter));
      }
      break;
    }
    case packet_type::kAnnounce:
      SendUserList(header.mac, connection);
      break;
    default:
      break;
  }
  Trace("::: parse proccess OK (3)");
  return true;
}

bool ChatServer::RefuseBlocked(const PacketHeader& header, Connection* connection) {
  if (users_.FindBlockState(header.mac) == BlockState::kNone) {
    const BlockState listed = blockList_.CheckBlockList(header.ip, header.name, header.mac);
    if (listed == BlockState::kNone) return false;
    users_.SetBlockState(header.mac, listed);
    switch (listed) {
      case BlockState::kIp:
        PrintText(Format(StringId::kRefusedByIp, header.ip), true, true);
        break;
      case BlockState::kMac:
        PrintText(Format(StringId::kRefusedByMac, header.mac), true, true);
        break;
      default:
        PrintText(Format(StringId::kRefusedByName, header.name), true, true);
        break;
    }
  }
  const std::string message = ReadMessageKey("ServerBlockMessage");
  if (message.size() > 1) {
    SendDirect(connection, EncodePacket(message, packet_type::kServerText, header.mac), true);
  }
  Trace("::: parse proccess OK (2)");
  return true;
}

void ChatServer::WriteBoardFile(std::string_view fileName, std::string_view content) {
  if (!IsSafeBoardName(fileName)) {
    PrintText("Board file refused, its name would leave board/: '" + std::string(fileName) + "'",
              true, true);
    return;
  }
  const std::filesystem::path folder = env_.workDir / "board";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::ofstream out(folder / std::string(fileName), std::ios::binary | std::ios::trunc);
  if (out) out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void ChatServer::SendUserList(std::string_view mac, Connection* connection) {
  int position = 0;
  std::string block;
  do {
    users_.BuildListBlock(position, block);
    SharedBytes packet = EncodePacket(block, packet_type::kUserList, mac);
    if (connection) connection->Send(std::move(packet));
  } while (position >= 0);
}

}  // namespace orv
