// The dispatcher: what the server does with one received unit before relaying it.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "server/chat_server.h"

namespace orv {

namespace {

bool IsStatusType(std::int32_t type) {
  return type == 2 || type == 4 || type == 7 || type == 25 || type == 34;
}

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

std::string ChatServer::ParseMessage(const std::string& received, const std::string& connectionKey,
                                     const std::shared_ptr<Connection>& connection) {
  return Dispatch(received, connectionKey, connection) ? received : std::string("BLOCK");
}

bool ChatServer::Dispatch(std::string_view received, const std::string& connectionKey,
                          const std::shared_ptr<Connection>& connection) {
  Trace("::: parse proccess");
  scratch_.clear();
  env_.codec.DecodeAppend(received, scratch_);
  if (!IsTerminatedPacket(scratch_)) {
    Trace("::: parse proccess OK (3)");
    return true;
  }
  const PacketHeader header = ReadPacketHeader(scratch_);
  const std::string_view msg = header.typeAndBody;

  if (IsStatusType(header.type)) {
    const std::string_view rest = ExtractField(msg, kFieldSeparator, Side::kAfter);
    const std::int32_t code = ParseLeadingNumber(ExtractField(rest, ":", Side::kBefore));
    const std::string_view text = ExtractField(rest, ":", Side::kAfter);
    const std::int32_t afs = afsList_.ReadAfsValue(header.mac, settings_.FloodStopper);
    users_.AddOrUpdate(header.mac, header.ip, header.name, connectionKey, connection, header.avatar,
                       text, code, afs);
  } else {
    users_.AddOrUpdate(header.mac, header.ip, header.name, connectionKey, connection, header.avatar,
                       {}, 0, users_.FindAfs(header.mac));
  }

  if (header.type == 25) users_.SetStateFlag(header.mac, true);
  if (header.type == 34) users_.SetStateFlag(header.mac, false);

  // Nothing of a blocked sender is relayed or answered, whatever the packet's type.
  if (RefuseBlocked(header, connection)) return false;

  switch (header.type) {
    case 5:
      if (AddressedToServer(msg, "5||", settings_.ServerName)) {
        const std::string command(
            TrimBlanksAndColons(ExtractField(msg, settings_.ServerName, Side::kAfter)));
        const std::string answer = ReadCommandText(command);
        if (!answer.empty()) SendDirect(connection, EncodePacket(answer, 6, header.mac), true);
      }
      Trace("::: parse proccess OK (1)");
      return true;
    case 14:
      if (!AddressedToServer(msg, "14||", settings_.ServerName)) return true;
      SendDirect(connection, EncodePacket(BuildServerProfile(), 15, header.mac), true);
      break;
    case 16: {
      const std::string_view beforeSemicolon = ExtractField(msg, ";", Side::kBefore);
      if (msg.find(';') != std::string_view::npos) {
        WriteBoardFile(ExtractField(beforeSemicolon, kFieldSeparator, Side::kAfter),
                       ExtractField(msg, ";", Side::kAfter));
      }
      break;
    }
    case 2:
      SendUserList(header.mac, connection);
      break;
    default:
      break;
  }
  Trace("::: parse proccess OK (3)");
  return true;
}

bool ChatServer::RefuseBlocked(const PacketHeader& header,
                               const std::shared_ptr<Connection>& connection) {
  if (users_.FindBlockState(header.mac) == 0) {
    const int listed = blockList_.CheckBlockList(header.ip, header.name, header.mac);
    if (listed == 0) return false;
    users_.SetBlockState(header.mac, listed);
    const std::string_view shown = listed == 1 ? header.ip : listed == 2 ? header.mac : header.name;
    PrintText(Format(26 + listed, shown), true, true);
  }
  const std::string message = ReadMessageKey("ServerBlockMessage");
  if (message.size() > 1) SendDirect(connection, EncodePacket(message, 6, header.mac), true);
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

void ChatServer::SendUserList(std::string_view mac, const std::shared_ptr<Connection>& connection) {
  int position = 0;
  std::string block;
  do {
    users_.BuildListBlock(position, block);
    SharedBytes packet = EncodePacket(block, 37, mac);
    if (connection) connection->Send(std::move(packet));
  } while (position >= 0);
}

}  // namespace orv
