// What clients can make the server write: console and log lines that carry their texts,
// board files, and the answers read from the command file.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e_support.h"

namespace orv::e2e {
namespace {

// Files in board/ and the space the quota charges for them (at least 4096 bytes each,
// whole 4096-byte blocks).
std::pair<int, std::uintmax_t> BoardUse(const RunningServer& server) {
  int files = 0;
  std::uintmax_t charged = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(server.folder.Dir() / "board", ec)) {
    ++files;
    charged += std::max<std::uintmax_t>(4096, (entry.file_size() + 4095) / 4096 * 4096);
  }
  return {files, charged};
}

bool AnyLineStartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0 || text.find("\n" + start) != std::string::npos ||
         text.find("\r" + start) != std::string::npos;
}

TEST(FilesTest, LineBreaksInNamesShowAsEscapesAndStartNoLineOfTheirOwn) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  const std::string name = "eve\r\nFORGED name line";
  const std::string ip = "10.6.6.6\r\nFORGED address line";
  const std::string shownName = "eve\\r\\nFORGED name line";
  Client eve(server.Port());
  ASSERT_TRUE(eve.Send(MakePacket("EV01", name, 16, "note\r\nFORGED board line;content", ip)));
  EXPECT_TRUE(console.WaitForLine(
      "Board file 'note\\r\\nFORGED board line' from 127.0.0.1 refused: its name would leave",
      milliseconds(3000)))
      << console.Transcript();
  ASSERT_TRUE(eve.Send(MakePacket("EV01", name, 2, "1:hi", ip)));
  ASSERT_TRUE(eve.WaitForType(37));
  const auto rows = console.ListUsers();
  ASSERT_EQ(rows.size(), 1u) << console.Transcript();
  EXPECT_NE(rows[0].find(shownName), std::string::npos) << rows[0];

  console.Type("/afs 0 30");
  EXPECT_TRUE(console.WaitForLine("ADMIN: Set AFS=30 to '" + shownName +
                                  " (10.6.6.6\\r\\nFORGED address line)'"))
      << console.Transcript();
  // A name that is not one line cannot go into the block list: the block holds for the
  // connection only, and the file gets no line of the client's making.
  console.Type("/block name 0");
  EXPECT_TRUE(console.WaitForLine("Blocked by name: " + shownName)) << console.Transcript();
  EXPECT_TRUE(console.WaitForLine("could not be written; the block holds only while the user"))
      << console.Transcript();
  EXPECT_FALSE(
      AnyLineStartsWith(ReadFile(server.folder.Dir() / "data" / "blocklist.cfg"), "FORGED"));
  eve.Pump(milliseconds(550));
  eve.Clear();
  ASSERT_TRUE(eve.Send(MakePacket("EV01", name, 5, "still here", ip)));
  auto refusal = eve.WaitForType(6);
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->body.find("blocked"), std::string::npos) << *refusal;
  console.Type("/kick 0");
  EXPECT_TRUE(console.WaitForLine("Kicked user at 10.6.6.6\\r\\nFORGED address line"))
      << console.Transcript();
  EXPECT_TRUE(eve.WaitClosed(milliseconds(3000)));
  console.Type("/exit");
  ASSERT_EQ(console.WaitExit(milliseconds(5000)), 0) << console.Transcript();

  const std::string log = server.Log();
  EXPECT_NE(log.find("Blocked by name: " + shownName + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("note\\r\\nFORGED board line"), std::string::npos) << log;
  EXPECT_FALSE(AnyLineStartsWith(log, "FORGED")) << log;
  for (const std::string& line : console.Lines())
    EXPECT_NE(line.rfind("FORGED", 0), 0u) << line;
  EXPECT_EQ(BoardUse(server).first, 0);
}

TEST(FilesTest, BoardNamesThatAreWindowsDevicesAreRefusedOnEverySystem) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client eve(server.Port());
  // A Windows server would open the device for these (the part before the first dot
  // counts, in any case, trailing dots and blanks ignored); their neighbours are files.
  const std::vector<std::string> devices = {"con.txt", "CON",      "Com1.log",   "nul.",
                                            "PRN ",    "aux .txt", "lpt9.tar.gz"};
  const std::vector<std::string> files = {"console.txt", "com10.log", "lpt.txt", "nul_.txt"};
  std::string burst;
  for (const std::string& name : devices)
    burst += MakePacket("EV01", "eve", 16, name + ";to the device");
  for (const std::string& name : files)
    burst += MakePacket("EV01", "eve", 16, name + ";to a file");
  burst += MakePacket("EV01", "eve", 5, "all sent");
  ASSERT_TRUE(eve.Send(burst));
  ASSERT_TRUE(eve.WaitFor([](const Packet& p) { return p.body == "all sent"; }));
  EXPECT_TRUE(console.WaitForLine(
      "Board file 'con.txt' from 127.0.0.1 refused: its name would leave board/"))
      << console.Transcript();
  for (const std::string& name : devices)
    EXPECT_FALSE(fs::exists(server.folder.Dir() / "board" / name)) << name;
  for (const std::string& name : files)
    EXPECT_EQ(ReadFile(server.folder.Dir() / "board" / name), "to a file") << name;
  EXPECT_EQ(BoardUse(server).first, static_cast<int>(files.size()));
}

// One client connecting with huge names and closing, in a loop, must not fill the disk or the
// journal: its lines are cut short and, past a few a minute, counted instead of written.
TEST(FilesTest, AChurningClientWithHugeNamesWritesAFewShortLines) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  const std::size_t before = console.LineCount();
  const std::string name(32000, 'N');
  for (int round = 0; round < 60; ++round) {
    Client c(server.Port());
    // Two users with huge names, and a packet without a complete header (relayed, with a
    // notice), then the client closes.
    ASSERT_TRUE(c.Send(MakePacket("HN" + std::to_string(round), name, 4, "1:hi") +
                       MakePacket("HN" + std::to_string(round) + "b", name + "2", 4, "1:hi") +
                       "no header//end"));
  }
  // Every churning user is gone (their lines say so no more: the listing does). A reader
  // that joined while the megabytes of names were still being relayed could be closed for
  // not keeping up with them: the probe comes after.
  const auto deadline = Clock::now() + milliseconds(10000);
  while (!console.ListUsers().empty() && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(100));
  ASSERT_TRUE(console.ListUsers().empty()) << console.Transcript();
  Client probe(server.Port());
  ASSERT_TRUE(probe.WaitForType(6, milliseconds(10000))) << console.Transcript();  // still serving
  ASSERT_TRUE(console.WaitForLine("Connection accepted", milliseconds(3000), before));
  // The notices, not the listing the test asked for (it shows the names whole).
  std::size_t longest = 0;
  for (const std::string& line : console.Lines()) {
    if (line.rfind("[", 0) == 0) longest = std::max(longest, line.size());
  }
  EXPECT_LT(longest, 400u);
  EXPECT_LE(console.CountLines("Connection accepted", before), 20u);
  EXPECT_LE(console.CountLines("incomplete header", before), 1u);
  // The day's log grew by kilobytes, not by the megabytes of names.
  EXPECT_LT(server.Log().size(), 64u * 1024) << server.Log().size();
}

// A board file a client rewrites is replaced whole: whoever reads it meanwhile sees the old
// content or the new, never part of it.
TEST(FilesTest, ABoardFileBeingRewrittenIsNeverSeenHalfWritten) {
  RunningServer server;
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  Client writer(server.Port());
  ASSERT_TRUE(writer.WaitForType(6));
  const fs::path file = server.folder.Dir() / "board" / "race.txt";
  const std::string a(60000, 'a');
  const std::string b(60000, 'b');
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> partial{0};
  std::thread reader([&] {
    while (!done) {
      const std::string seen = ReadFile(file);
      if (!seen.empty()) {
        ++reads;
        if (seen != a && seen != b) ++partial;
      }
    }
  });
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(writer.Send(MakePacket("WR01", "writer", 16, "race.txt;" + (i % 2 ? b : a))));
    writer.Pump(milliseconds(5));  // it reads its own copies, as a client does
    writer.Clear();
  }
  ASSERT_TRUE(writer.Send(MakePacket("WR01", "writer", 5, "all written")));
  EXPECT_TRUE(
      writer.WaitFor([](const Packet& p) { return p.body == "all written"; }, milliseconds(20000)))
      << server.process->Transcript();
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(partial.load(), 0) << "of " << reads.load() << " reads";
  EXPECT_EQ(ReadFile(file), b);
}

TEST(FilesTest, ABoardFloodStopsAtTheQuotaWithOneConsoleLine) {
  RunningServer server({}, [](WorkFolder& folder) {
    folder.Set("BoardQuota", "65536");
    folder.Set("BoardFileLimit", "8192");
  });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client flooder(server.Port());
  auto flood = [&flooder](int first, const std::string& marker) {
    std::string burst;
    for (int i = first; i < first + 40; ++i)
      burst += MakePacket("FL01", "flood", 16, "f" + std::to_string(i) + ".txt;tiny file");
    burst += MakePacket("FL01", "flood", 5, marker);
    flooder.Clear();
    return flooder.Send(burst) &&
           flooder.WaitFor([&marker](const Packet& p) { return p.body == marker; },
                           milliseconds(10000));
  };

  // Small files are charged 4096 bytes each: 16 of them fill 64 KiB.
  ASSERT_TRUE(flood(0, "first burst done"));
  auto [files, charged] = BoardUse(server);
  EXPECT_EQ(files, 16);
  EXPECT_LE(charged, 65536u);
  EXPECT_TRUE(fs::exists(server.folder.Dir() / "board" / "f15.txt"));
  EXPECT_FALSE(fs::exists(server.folder.Dir() / "board" / "f16.txt"));
  ASSERT_TRUE(console.WaitForLine(
      "Board file 'f16.txt' from 127.0.0.1 refused: board/ would grow past 65536 bytes "
      "(BoardQuota)"))
      << console.Transcript();

  // The client keeps trying: nothing more on disk, and no more lines for a minute.
  ASSERT_TRUE(flood(100, "second burst done"));
  std::tie(files, charged) = BoardUse(server);
  EXPECT_EQ(files, 16);
  EXPECT_LE(charged, 65536u);
  // Rewriting a file within the blocks it has already is no growth.
  ASSERT_TRUE(flooder.Send(MakePacket("FL01", "flood", 16, "f3.txt;rewritten")));
  ASSERT_TRUE(flooder.Send(MakePacket("FL01", "flood", 5, "rewrite done")));
  ASSERT_TRUE(flooder.WaitFor([](const Packet& p) { return p.body == "rewrite done"; }));
  EXPECT_EQ(ReadFile(server.folder.Dir() / "board" / "f3.txt"), "rewritten");

  // Each other address is told of once: too large a file, too long a name.
  Client big(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.6");
  ASSERT_TRUE(big.Send(MakePacket("BG01", "big", 16, "big.txt;" + std::string(9000, 'b'))));
  EXPECT_TRUE(console.WaitForLine(
      "Board file 'big.txt' from 127.0.0.6 refused: it is larger than 8192 bytes (BoardFileLimit)"))
      << console.Transcript();
  Client longName(server.Port(), 0, WireCodec::BuiltIn(), "127.0.0.7");
  ASSERT_TRUE(longName.Send(MakePacket("LN01", "long", 16, std::string(300, 'n') + ";x")));
  EXPECT_TRUE(console.WaitForLine("refused: its name is longer than 255 bytes"))
      << console.Transcript();
  EXPECT_EQ(console.CountLines("(BoardQuota)"), 1u) << console.Transcript();
  EXPECT_EQ(console.CountLines("more refused board files"), 0u) << console.Transcript();
  EXPECT_EQ(BoardUse(server).first, 16);
}

TEST(FilesTest, AMissingCommandFileGivesEmptyAnswersAndOneConsoleLine) {
  const fs::path original = fs::path(ORV_SOURCE_DIR) / "workdir" / "orvchatserver_command.cfg";
  RunningServer server(
      {}, [](WorkFolder& folder) { fs::remove(folder.Dir() / "orvchatserver_command.cfg"); });
  ASSERT_TRUE(server.ready) << server.process->Transcript();
  ServerProcess& console = *server.process;
  Client alice(server.Port());
  Client bob(server.Port());
  ASSERT_TRUE(alice.WaitForType(6) && bob.WaitForType(6));
  alice.Pump(milliseconds(550));

  // A command, a profile request, and another command: no answer to the commands, a profile
  // with empty texts.
  for (const char* command : {"help", "rules"}) {
    alice.Clear();
    const std::string text = "OrvServer: " + std::string(command);
    ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, text)));
    ASSERT_TRUE(alice.WaitFor([&text](const Packet& p) { return p.body == text; }));
    EXPECT_FALSE(alice.WaitForType(6, milliseconds(100))) << alice.Packets().front();
  }
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 14, "OrvServer")));
  auto profile = alice.WaitForType(15);
  ASSERT_TRUE(profile);
  EXPECT_NE(profile->body.find("|NAME|OrvServer|/NAME|"), std::string::npos) << *profile;
  ASSERT_TRUE(bob.WaitForType(14));
  for (const Client* client : {&alice, &bob}) {
    for (const Packet& packet : client->Packets())
      EXPECT_EQ(packet.text.find("READFALSE"), std::string::npos) << packet;
  }
  EXPECT_TRUE(console.WaitForLine("The command file")) << console.Transcript();
  EXPECT_EQ(console.CountLines("cannot be read"), 1u) << console.Transcript();

  // Put back, the file answers again.
  fs::copy_file(original, server.folder.Dir() / "orvchatserver_command.cfg");
  alice.Pump(milliseconds(550));
  alice.Clear();
  ASSERT_TRUE(alice.Send(MakePacket("AA01", "alice", 5, "OrvServer: help")));
  auto answer = alice.WaitForType(6);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body.rfind("1:Commands:", 0), 0u) << *answer;
}

}  // namespace
}  // namespace orv::e2e
