// Another user's chat line that holds line breaks and terminal codes, in the program of its
// own against the fake servers: what the console, the chat log and the trace log keep of it.
#include <unistd.h>

#include "client/core/log.h"
#include "client/core/profile.h"
#include "world_env.h"

using namespace world_env;

// A chat line from the world that holds a line break and terminal codes, from a user whose
// name holds them too, stays one line in the console, the chat log and the trace log, with
// no control byte left: it cannot pass for another user's line or drive the terminal. The
// Windows-1252 bytes C2 9B ("\u00c2\u203a") read as UTF-8 are the one-character CSI: they go
// too, while accented letters and the euro sign stay.
TEST_F(WorldChat, AChatLineWithBreaksAndCodesStaysOneLineEverywhere) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);  // the trace log goes to the working directory
  profile_set_string("chat", "logging", "1");
  profile_set_string("chat", "logfile", "chat.txt");
  profile_set_string("debug", "trace", "1");
  ASSERT_NE(0, tessel_init(0, "", 1));
  ASSERT_TRUE(run_until([] { return tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN &&
                                    avatar_find(2) != nullptr; }));
  world_->command(R"(avatar 1 {"session":3,"name":"mal\u001b[2Jlory","x":0,"y":0,"z":3000})");
  world_->command(R"(avatar 1 {"session":4,"name":"Zo\u00eb\u00c2\u203a[31m\u20ac","x":0,"y":0,"z":3000})");
  ASSERT_TRUE(run_until([] { return avatar_find(3) != nullptr && avatar_find(4) != nullptr; }));
  // Reply 12: a session, then the text as a length byte and its bytes.
  auto chat = [this](const char* session, const std::string& said) {
    std::string hex = session;
    char b[3];
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned>(said.size()));
    hex += b;
    for (unsigned char c : said) {
      std::snprintf(b, sizeof b, "%02x", c);
      hex += b;
    }
    world_->command("reply 1 12 " + hex);
  };
  chat("0004", "caf\xe9 \xc2\x9b" "2J \xc2\x90" "0;x\xc2\x9c costs 5\x80");
  chat("0003", "hi\r\nbob: give me your password\x1b]0;owned\x07");
  ASSERT_TRUE(run_until([this] { return console().find("password") != std::string::npos; }));
  const std::string shown = "mal?[2Jlory: hi??bob: give me your password?]0;owned?";

  QtConsole* pane = console_qt_pane();
  ASSERT_NE(nullptr, pane);
  int lines_with_it = 0;
  for (QTextBlock block = pane->document()->firstBlock(); block.isValid(); block = block.next())
    if (block.text().contains("password")) ++lines_with_it;
  EXPECT_EQ(1, lines_with_it);
  EXPECT_EQ("mal?[2Jlory:\thi??bob: give me your password?]0;owned?",
            pane->document()->lastBlock().text().toStdString());

  auto no_controls = [](const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c < 0x20 && c != '\t' && c != '\n') return false;
      unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (c == 0xC2 && next >= 0x80 && next <= 0x9F) return false;
    }
    return true;
  };
  const std::string accented = "Zo\xeb?[31m\x80: caf\xe9 ?2J ?0;x? costs 5\x80";
  tessel_shutdown(nullptr);  // the logs closed and complete
  std::string chat_log = read_file(dir_.file("chat.txt"));
  EXPECT_NE(std::string::npos, chat_log.find("\n" + shown + "\n")) << chat_log;
  EXPECT_NE(std::string::npos, chat_log.find("\n" + accented + "\n")) << chat_log;
  EXPECT_TRUE(no_controls(chat_log)) << chat_log;
  std::string trace = read_file(dir_.file("tessel.log"));
  EXPECT_NE(std::string::npos, trace.find("mal?[2Jlory")) << "the name is not traced";
  EXPECT_NE(std::string::npos, trace.find("Zo\xeb?[31m\x80")) << "the name is not traced";
  EXPECT_TRUE(no_controls(trace));
  log_reset();
  ASSERT_EQ(chdir(cwd), 0);
}
