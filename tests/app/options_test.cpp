#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

TEST(ParseOptions, ValuesComeWithSpacesEqualsSignsOrShortForms) {
  ParsedOptions parsed = ParseOptions(
      {"-C", "/srv/chat", "--headless", "--write-limit=8192", "--control", "/run/chat.sock"});
  ASSERT_FALSE(parsed.exitCode) << parsed.err;
  EXPECT_EQ(parsed.options.workDir, "/srv/chat");
  EXPECT_TRUE(parsed.options.headless);
  EXPECT_EQ(parsed.options.writeLimitBytes, 8192u);
  EXPECT_EQ(parsed.options.controlSocket, "/run/chat.sock");
  EXPECT_FALSE(parsed.options.checkConfig);

  parsed = ParseOptions({"--workdir=/srv/other", "--check-config"});
  ASSERT_FALSE(parsed.exitCode) << parsed.err;
  EXPECT_EQ(parsed.options.workDir, "/srv/other");
  EXPECT_TRUE(parsed.options.checkConfig);
  EXPECT_FALSE(parsed.options.headless);
  EXPECT_FALSE(parsed.options.setWebPassword);

  parsed = ParseOptions({"--set-web-password", "-C", "/var/lib/orvchat"});
  ASSERT_FALSE(parsed.exitCode) << parsed.err;
  EXPECT_TRUE(parsed.options.setWebPassword);
  EXPECT_EQ(parsed.options.workDir, "/var/lib/orvchat");

  parsed = ParseOptions({});
  ASSERT_FALSE(parsed.exitCode);
  // The current folder; on Windows the program's folder.
  EXPECT_EQ(parsed.options.workDir, DefaultWorkDir());
  EXPECT_EQ(parsed.options.writeLimitBytes, kDefaultWriteLimitBytes);
}

TEST(ParseOptions, HelpAndVersionEndWithZeroOnStdout) {
  for (const char* help : {"--help", "-h"}) {
    const ParsedOptions parsed = ParseOptions({help});
    EXPECT_EQ(parsed.exitCode, 0);
    EXPECT_NE(parsed.out.find("--check-config"), std::string::npos) << parsed.out;
    EXPECT_NE(parsed.out.find("SIGHUP"), std::string::npos) << parsed.out;
    EXPECT_TRUE(parsed.err.empty());
  }
  const ParsedOptions version = ParseOptions({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("orvchatserver 1.", 0), 0u) << version.out;
}

TEST(ParseOptions, UsageErrorsEndWithTwoAShortReasonAndAPointerToHelp) {
  const std::vector<std::vector<std::string>> bad = {{"--frobnicate"},
                                                     {"-C"},
                                                     {"-C", ""},
                                                     {"--write-limit", "12k"},
                                                     {"--write-limit", "10"},
                                                     {"stray"},
                                                     {"--check-config", "extra"}};
  for (const auto& args : bad) {
    const ParsedOptions parsed = ParseOptions(args);
    EXPECT_EQ(parsed.exitCode, 2) << args.front();
    EXPECT_TRUE(parsed.out.empty());
    EXPECT_EQ(parsed.err.rfind("orvchatserver: ", 0), 0u) << parsed.err;
    EXPECT_NE(parsed.err.find("Usage: orvchatserver [OPTIONS]; see --help\n"), std::string::npos)
        << parsed.err;
    // Short: the reason and the usage line, not the whole help.
    EXPECT_LT(parsed.err.size(), 300u) << parsed.err;
  }
  EXPECT_NE(ParseOptions({"--write-limit", "12k"}).err.find("'12k'"), std::string::npos);
}

}  // namespace
}  // namespace orv
