#include "client_commands.h"

#include <gtest/gtest.h>

namespace orv::client {
namespace {

ClientState Alice() {
  ClientState state;
  state.who = {"10.0.0.7", "00AA11", "alice", "a.gif"};
  return state;
}

std::string Body(const Action& action) {
  return ParsePacket(action.text).body;
}
int Type(const Action& action) {
  return ParsePacket(action.text).type;
}

TEST(ClientCommandsTest, TurnsEachCommandIntoItsPacket) {
  ClientState state = Alice();
  EXPECT_EQ(AnnouncePacket(state), "10.0.0.7(00AA11)||alice||a.gif||0.0||1||2||0://end");

  Action chat = TranslateInput("hello there\r", state);
  ASSERT_EQ(chat.kind, Action::Kind::kSend);
  EXPECT_EQ(chat.text, "10.0.0.7(00AA11)||alice||a.gif||0.0||1||5||hello there//end");
  EXPECT_EQ(Body(TranslateInput("//slash", state)), "/slash");
  EXPECT_EQ(TranslateInput("", state).kind, Action::Kind::kNothing);

  Action status = TranslateInput("/status 3 out to lunch", state);
  EXPECT_EQ(Type(status), 4);
  EXPECT_EQ(Body(status), "3:out to lunch");
  // The announcement carries the status set last.
  Action list = TranslateInput("/list", state);
  EXPECT_EQ(Type(list), 2);
  EXPECT_EQ(Body(list), "3:out to lunch");

  Action file = TranslateInput("/file notes.txt two words", state);
  EXPECT_EQ(Type(file), 16);
  EXPECT_EQ(Body(file), "notes.txt;two words");

  Action any = TranslateInput("/send 25 1:on", state);
  EXPECT_EQ(Type(any), 25);
  EXPECT_EQ(Body(any), "1:on");

  Action raw = TranslateInput("/raw not a packet", state);
  EXPECT_EQ(raw.kind, Action::Kind::kSend);
  EXPECT_EQ(raw.text, "not a packet");

  EXPECT_EQ(TranslateInput("/quit", state).kind, Action::Kind::kQuit);
  EXPECT_EQ(TranslateInput("/help", state).kind, Action::Kind::kHelp);
}

TEST(ClientCommandsTest, ProfileAsksTheServerOnceItsNameIsKnown) {
  ClientState state = Alice();
  Action early = TranslateInput("/profile", state);
  EXPECT_EQ(early.kind, Action::Kind::kError);
  EXPECT_NE(early.message.find("not known"), std::string::npos);

  state.serverName = "ORV";
  Action profile = TranslateInput("/profile", state);
  EXPECT_EQ(Type(profile), 14);
  EXPECT_EQ(Body(profile), "ORV");
  EXPECT_EQ(Body(TranslateInput("/profile bob", state)), "bob");
}

TEST(ClientCommandsTest, RefusesMistypedCommandsInWords) {
  ClientState state = Alice();
  for (const char* line : {"/status", "/status x text", "/status 1234567890 x", "/file",
                           "/send five body", "/raw", "/nosuch"}) {
    const Action action = TranslateInput(line, state);
    EXPECT_EQ(action.kind, Action::Kind::kError) << line;
    EXPECT_FALSE(action.message.empty()) << line;
  }
  EXPECT_EQ(state.statusCode, 0);  // a refused /status changes nothing
}

}  // namespace
}  // namespace orv::client
