// The console and the chat line: what the user and the program's modules see in the pane,
// the chat log on disk, and the [chat] settings.
#include <QTextBlock>
#include <QTextDocument>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "client/cache/download.h"
#include "client/core/log.h"
#include "client/core/tick.h"
#include "client/scene/avatar.h"
#include "client/scene/modelfile.h"
#include "client/servers/join.h"
#include "client/servers/privilege.h"
#include "client/servers/world.h"
#include "client/shell/chat.h"
#include "client/shell/telegram.h"
#include "client/shell/console.h"
#include "client/ui/chat_line.h"
#include "client/ui/qt_host.h"
#include "platform/host.h"
#include "shell_env.h"

using namespace shell_test;

namespace {

class Console : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    host_set(&qt_);
    ASSERT_TRUE(qt_.window_create("shell", HostRect{0, 0, 640, 480}, 100, 100, [](const HostEvent&) { return 0L; }));
    chat_qt_install(qt_);
  }
  void TearDown() override {
    console_reset_for_test();
    chat_reset_for_test();
    console_set_view_maker(nullptr);
    chat_set_view_maker(nullptr);
    qt_.window_destroy();
    host_set(nullptr);
    ShellTest::TearDown();
  }
  std::vector<std::string> pane_lines() {
    std::vector<std::string> out;
    QtConsole* pane = console_qt_pane();
    if (!pane) return out;
    for (QTextBlock b = pane->document()->firstBlock(); b.isValid(); b = b.next())
      out.push_back(b.text().toStdString());
    return out;
  }
  void say(const char* text) {
    ASSERT_NE(nullptr, chat_qt_line());
    chat_qt_line()->setText(text);
    chat_enter();
  }
  QtHost qt_;
};

}  // namespace

TEST_F(Console, LinesBeforeThePaneKeepTheirOrderAndNamesGetATab) {
  console_print(CONSOLE_CHAT, "%s: %s", "ann", "first");
  console_print(CONSOLE_WORLD, "World: second");
  // A line that ends at its colon: nothing after it to turn into a tab.
  console_line(CONSOLE_CHAT, "bob:");
  console_line(CONSOLE_TELEGRAM_TEXT, "from: kept blank");
  EXPECT_EQ(4, console_waiting());
  ASSERT_EQ(1, console_init(nullptr));
  EXPECT_EQ(0, console_waiting());
  EXPECT_EQ((std::vector<std::string>{"ann:\tfirst", "World:\tsecond", "bob:", "from: kept blank"}), pane_lines());
  EXPECT_STREQ("ann:\tfirst\r\nWorld:\tsecond\r\nbob:\r\nfrom: kept blank", console_text());
  // Colours by kind: chat black, world notices forest green, telegram texts orange red.
  QtConsole* pane = console_qt_pane();
  ASSERT_NE(nullptr, pane);
  auto colour_of = [pane](int block) {
    QTextBlock b = pane->document()->findBlockByNumber(block);
    return b.begin().fragment().charFormat().foreground().color();
  };
  EXPECT_EQ(QColor(0, 0, 0), colour_of(0));
  EXPECT_EQ(QColor(0x23, 0x8E, 0x23), colour_of(1));
  EXPECT_EQ(QColor(0xFF, 0x24, 0x00), colour_of(3));
}

TEST_F(Console, ModulesReachThePaneThroughTheirHooks) {
  ASSERT_EQ(1, console_init(nullptr));
  msg_set(125, "Building");
  msg_set(188, "acting for %s");
  // A privilege granted: the privilege module's own line, in the building notices' teal.
  privilege_result(0, "Ann");
  ASSERT_EQ(1u, pane_lines().size());
  EXPECT_EQ("Building:\tacting for Ann", pane_lines()[0]);
  QTextBlock b = console_qt_pane()->document()->firstBlock();
  EXPECT_EQ(QColor(0x00, 0x70, 0x70), b.begin().fragment().charFormat().foreground().color());
  privilege_reset_state();
  // A model that does not parse, while the vrml trace switch is on.
  msg_set(221, "%s: %s");
  std::string bad = dir_.file("broken.wrl");
  testutil::write_file(bad, "#VRML V2.0 utf8\nShape { geometry Sphere { radius }");
  trace_switches[TRACE_VRML] = 1;
  EXPECT_EQ(nullptr, vrml_load_clump(bad.c_str(), 1));
  trace_switches[TRACE_VRML] = 0;
  ASSERT_EQ(2u, pane_lines().size());
  EXPECT_EQ(0u, pane_lines()[1].rfind("Building:\tbroken.wrl: ", 0)) << pane_lines()[1];
  // The downloads' notice is a sentence of its own, under the world's title.
  msg_set(160, "World");
  download_hook.console_print(CONSOLE_WORLD, "The server cannot be reached: host. Asked again.");
  EXPECT_EQ("World:\tThe server cannot be reached: host. Asked again.", pane_lines().back());
}

TEST_F(Console, PastTheLimitTheOldestLineGoesBeforeEachNewOne) {
  ASSERT_EQ(1, console_init(nullptr));
  std::string body(98, 'x');
  int n = 0;
  while (console_length() <= CONSOLE_LIMIT) console_print(CONSOLE_CHAT, "%d %s", n++, body.c_str());
  int before = static_cast<int>(pane_lines().size());
  console_print(CONSOLE_CHAT, "%d %s", n++, body.c_str());
  std::vector<std::string> lines = pane_lines();
  EXPECT_EQ(before, static_cast<int>(lines.size()));
  EXPECT_EQ("1 " + body, lines.front());
  EXPECT_EQ(std::to_string(n - 1) + " " + body, lines.back());
  EXPECT_LE(console_length(), CONSOLE_LIMIT + 110);
  EXPECT_EQ(lines.front(), std::string(console_text()).substr(0, lines.front().size()));
  // Long lines go as well, whatever their length.
  const std::string longer(2 * CONSOLE_LINE_MAX, 'y');
  for (int i = 0; i < 3 * CONSOLE_LIMIT / CONSOLE_LINE_MAX; ++i) console_line(CONSOLE_CHAT, longer.c_str());
  EXPECT_LE(console_length(), CONSOLE_LIMIT + CONSOLE_LINE_MAX + 2);
}

TEST_F(Console, ChatLogKeepsChatAndWorldLinesUnderItsHeader) {
  profile_set_int("chat", "logging", 1);
  profile_set_string("chat", "logfile", "talk.txt");
  ASSERT_EQ(1, chat_init(nullptr));
  ASSERT_EQ(1, console_init(nullptr));
  console_line(CONSOLE_CHAT, "ann: hello");
  console_line(CONSOLE_BUILD, "Building: refused");
  console_line(CONSOLE_WORLD, "World: welcome");
  console_line(CONSOLE_TELEGRAM, "telegram from ann");
  console_line(CONSOLE_TOURIST, "\"guest\": hi");
  chat_term();
  std::string log = testutil::read_file(dir_.file("talk.txt"));
  size_t first = log.find('\n', 1);
  ASSERT_NE(std::string::npos, first);
  std::string stars = log.substr(1, first - 1);
  std::string title = log.substr(first + 1, log.find('\n', first + 1) - first - 1);
  EXPECT_EQ(0u, title.rfind("* log of tessel: ", 0)) << title;
  EXPECT_EQ('*', title.back());
  EXPECT_EQ(std::string(title.size(), '*'), stars);
  std::string body = log.substr(log.find("\n\n", first) + 2);
  EXPECT_EQ("ann: hello\nWorld: welcome\n\"guest\": hi\n", body);
}

TEST_F(Console, ALineLongerThanTheCapIsCutToItOnScreenAndInTheLog) {
  profile_set_int("chat", "logging", 1);
  profile_set_string("chat", "logfile", "long.txt");
  ASSERT_EQ(1, chat_init(nullptr));
  ASSERT_EQ(1, console_init(nullptr));
  const std::string said(CONSOLE_LINE_MAX + 500, 'w');
  console_line(CONSOLE_CHAT, said.c_str());
  console_print(CONSOLE_WORLD, "%s", said.c_str());
  const std::string cut(CONSOLE_LINE_MAX, 'w');
  EXPECT_EQ((std::vector<std::string>{cut, cut}), pane_lines());
  chat_term();
  std::string log = testutil::read_file(dir_.file("long.txt"));
  EXPECT_EQ("\n" + cut + "\n" + cut + "\n", log.substr(log.find("\n\n") + 1));
}

// A world that never pauses: of a burst of lines from outside a frame shows a few, the rest
// wait in a bounded queue and are shown a few a frame, and what the queue cannot hold is left
// out with one notice in its place. The person's own words in the flood are shown at once.
TEST_F(Console, AFloodFromOutsideIsShownAFewLinesAFrameAndItsExcessLeftOutWithOneNotice) {
  profile_set_int("chat", "logging", 1);
  profile_set_string("chat", "logfile", "flood.txt");
  msg_set(CONSOLE_LEFT_OUT_MSG, "some left out");
  // No world is entered here: the person's line is told as not sent, and that at once too.
  msg_set(600, "not sent: %s");
  ASSERT_EQ(1, chat_init(nullptr));
  ASSERT_EQ(1, console_init(nullptr));
  ASSERT_NE(nullptr, world_hook.console_print);
  for (int i = 0; i < 5000; ++i) world_hook.console_print(CONSOLE_CHAT, ("ann: " + std::to_string(i)).c_str());
  EXPECT_EQ(static_cast<size_t>(CONSOLE_FRAME_LINES), pane_lines().size());
  EXPECT_EQ(CONSOLE_QUEUE_MAX + 1, console_waiting());
  QtChatLine* line = chat_qt_line();
  ASSERT_NE(nullptr, line);
  line->setText("stop it");
  chat_enter();
  ASSERT_EQ(static_cast<size_t>(CONSOLE_FRAME_LINES + 1), pane_lines().size());
  EXPECT_NE(std::string::npos, pane_lines().back().find("stop it"));
  // Frame after frame a few more, and a few a second at 50 frames a second, until nothing
  // waits.
  const size_t first = pane_lines().size();
  size_t before = first;
  for (int frame = 1; console_waiting() > 0 && frame < 5000; ++frame) {
    fake_now += 20;
    tick_update();
    chat_update();
    size_t now = pane_lines().size();
    EXPECT_LE(now - before, static_cast<size_t>(CONSOLE_FRAME_LINES)) << frame;
    EXPECT_LE(now - first, static_cast<size_t>((frame / 50 + 2) * CONSOLE_SECOND_LINES)) << frame;
    before = now;
  }
  EXPECT_EQ(0, console_waiting());
  std::vector<std::string> lines = pane_lines();
  ASSERT_EQ(static_cast<size_t>(CONSOLE_FRAME_LINES + 1 + CONSOLE_QUEUE_MAX + 1), lines.size());
  EXPECT_EQ("ann:\t0", lines[0]);
  EXPECT_EQ("ann:\t" + std::to_string(CONSOLE_FRAME_LINES + CONSOLE_QUEUE_MAX - 1), lines[lines.size() - 2]);
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "some left out"));
  EXPECT_EQ("some left out", lines.back());
  // The flood over, a line is shown at once again.
  world_hook.console_print(CONSOLE_CHAT, "ann: after");
  EXPECT_EQ("ann:\tafter", pane_lines().back());
  chat_term();
  std::string log = testutil::read_file(dir_.file("flood.txt"));
  EXPECT_NE(std::string::npos, log.find("\nsome left out\nann: after\n"));
  EXPECT_EQ(std::string::npos, log.find("ann: 4999\n"));
}

// The chat log keeps to its cap: past it the log is moved to one older file and begun again
// under its header. A log found at the cap from an earlier run is moved aside, not cut.
TEST_F(Console, TheChatLogKeepsToItsCapBesideOneOlderFile) {
  profile_set_int("chat", "logging", 1);
  profile_set_string("chat", "logfile", "talk.txt");
  const std::string path = dir_.file("talk.txt"), older = path + ".1";
  const std::string earlier(CHAT_LOG_MAX, 'o');
  testutil::write_file(path, earlier);
  ASSERT_EQ(1, chat_init(nullptr));
  EXPECT_EQ(earlier, testutil::read_file(older));
  auto mode = [](const std::string& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  };
  EXPECT_EQ(0600u, mode(older));
  // The person's line outlasts the flood that follows it, in one file or the other.
  msg_set(600, "not sent: %s");
  ASSERT_EQ(1, console_init(nullptr));
  ASSERT_NO_FATAL_FAILURE(say("mine$"));
  const std::string body(95, 'x');
  const long count = 3 * CHAT_LOG_MAX / 100;
  for (long i = 0; i < count; ++i) chat_log_write((std::to_string(i) + " " + body).c_str());
  chat_term();
  std::string now = testutil::read_file(path), before = testutil::read_file(older);
  const std::string both = before + now;
  EXPECT_EQ(1, std::count(both.begin(), both.end(), '$')) << "the person's line once";
  EXPECT_LE(now.size(), static_cast<size_t>(CHAT_LOG_MAX));
  EXPECT_LE(before.size(), static_cast<size_t>(CHAT_LOG_MAX));
  EXPECT_GT(before.size(), static_cast<size_t>(CHAT_LOG_MAX) / 2);
  EXPECT_FALSE(std::filesystem::exists(path + ".2"));
  EXPECT_EQ(0600u, mode(path));
  EXPECT_EQ(0600u, mode(older));
  // Both begin with the header; the newest line is in the log, the ones just before it in the
  // older file, none lost between.
  EXPECT_EQ(0u, now.rfind("\n****", 0));
  EXPECT_EQ(0u, before.rfind("\n****", 0));
  EXPECT_EQ(std::to_string(count - 1) + " " + body + "\n", now.substr(now.size() - body.size() - 2 - std::to_string(count - 1).size()));
  std::string first = now.substr(now.find("\n\n", 1) + 2);
  long first_number = std::stol(first);
  std::string last_before = before.substr(before.rfind('\n', before.size() - 2) + 1);
  EXPECT_EQ(first_number - 1, std::stol(last_before));
}

TEST_F(Console, PublicSpeakersAreBoldAndPlainChatIsNot) {
  ASSERT_EQ(1, console_init(nullptr));
  console_line(CONSOLE_CHAT, "ann: plain");
  console_line(CONSOLE_SPEAKER, "herald: loud");
  console_line(CONSOLE_TOURIST, "\"guest\": plain");
  console_line(CONSOLE_WORLD, "World: plain");
  QtConsole* pane = console_qt_pane();
  ASSERT_NE(nullptr, pane);
  std::vector<bool> bold;
  for (QTextBlock b = pane->document()->firstBlock(); b.isValid(); b = b.next()) {
    bool all = true;
    for (auto f = b.begin(); !f.atEnd(); ++f) all = all && f.fragment().charFormat().fontWeight() == QFont::Bold;
    bold.push_back(all);
  }
  EXPECT_EQ((std::vector<bool>{false, true, false, false}), bold);
}

TEST_F(Console, ChatSettingsKeepTheirBounds) {
  EXPECT_EQ(50, chat_avatars());
  EXPECT_EQ(12, chat_near());
  EXPECT_EQ(1, chat_balloons());
  EXPECT_EQ(0, chat_logging());
  EXPECT_STREQ("chat.txt", chat_logfile());
  profile_set_int("chat", "avatars", 60);
  profile_set_int("chat", "near", 51);
  profile_set_int("chat", "balloons", 0);
  profile_set_string("chat", "logfile", "");
  EXPECT_EQ(50, chat_avatars());
  EXPECT_EQ(12, chat_near());
  EXPECT_EQ(0, chat_balloons());
  EXPECT_STREQ("chat.txt", chat_logfile());
  profile_set_int("chat", "avatars", 11);
  profile_set_int("chat", "near", 0);
  EXPECT_EQ(50, chat_avatars());
  EXPECT_EQ(0, chat_near());
  profile_set_int("chat", "avatars", 12);
  EXPECT_EQ(12, chat_avatars());
}

TEST_F(Console, TheChatLineTakesTypedCharactersUpToItsLimit) {
  ASSERT_EQ(1, chat_init(nullptr));
  QtChatLine* line = chat_qt_line();
  ASSERT_NE(nullptr, line);
  for (int i = 0; i < 300; ++i) chat_send_char('a' + i % 26, 0);
  char text[CHAT_READ + 1];
  line->text(text, sizeof text);
  EXPECT_EQ(static_cast<size_t>(CHAT_LIMIT), std::strlen(text));
  chat_send_char('\b', 0);
  line->text(text, sizeof text);
  EXPECT_EQ(static_cast<size_t>(CHAT_LIMIT - 1), std::strlen(text));
}

TEST_F(Console, EnterAnswersAPendingJoinQuestionInsteadOfSpeaking) {
  ASSERT_EQ(1, chat_init(nullptr));
  ASSERT_EQ(1, console_init(nullptr));
  msg_set(101, "yes");
  msg_set(102, "no");
  profile_set_int("privacy", "verify", 1);
  join_reset();
  join_receive_request(7, "ann");
  ASSERT_EQ(1, join_queue_length());
  QtChatLine* line = chat_qt_line();
  ASSERT_NE(nullptr, line);
  line->setText("NO");
  chat_enter();
  EXPECT_EQ(0, join_queue_length());
  EXPECT_TRUE(line->QLineEdit::text().isEmpty());
  EXPECT_STREQ("", chat_own_balloon_text());  // nothing was said
  // With no question pending the same word goes to the world as chat; there is no world
  // here, so it is shown as not sent, and not as said.
  msg_set(160, "World");
  msg_set(600, "not sent: %s");
  line->setText("no");
  chat_enter();
  EXPECT_TRUE(line->QLineEdit::text().isEmpty());
  EXPECT_STREQ("", chat_own_balloon_text());
  ASSERT_FALSE(pane_lines().empty());
  EXPECT_EQ("World:\tnot sent: no", pane_lines().back());
  // Whatever loses the echo on the way, the line is told, and only once.
  const auto wired = avatar_hook.console_print;
  avatar_hook.console_print = [](int, const char*) {};
  ASSERT_NO_FATAL_FAILURE(say("lost"));
  avatar_hook.console_print = wired;
  EXPECT_EQ("World:\tnot sent: lost", pane_lines().back());
  const std::vector<std::string> lines = pane_lines();
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "World:\tnot sent: no"));
  join_reset();
}

// A flood that fills the pane takes the oldest lines from outside and leaves the person's own.
TEST_F(Console, ThePersonsOwnLinesStayInAFullPaneWhileLinesFromOutsideGo) {
  msg_set(600, "not sent: %s");
  ASSERT_EQ(1, chat_init(nullptr));
  ASSERT_EQ(1, console_init(nullptr));
  ASSERT_NO_FATAL_FAILURE(say("mine"));
  const std::string body(90, 'x');
  for (int i = 0; i < 3 * CONSOLE_LIMIT / 100; ++i) {
    world_hook.console_print(CONSOLE_CHAT, ("ann: " + body).c_str());
    // Now and then a telegram's text: a paragraph in the pane for each of its lines.
    if (i % 10 == 0) telegram_hook.console_print(CONSOLE_TELEGRAM_TEXT, ("\nann: \n" + body + "\n").c_str());
    fake_now += 1000;
    tick_update();
    chat_update();
  }
  std::vector<std::string> lines = pane_lines();
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), ":\tnot sent: mine"));
  EXPECT_LE(console_length(), CONSOLE_LIMIT + 200);
  // The pane and the text kept for it agree paragraph for paragraph.
  std::string kept = console_text();
  kept.erase(std::remove(kept.begin(), kept.end(), '\r'), kept.end());
  EXPECT_EQ(kept, console_qt_pane()->toPlainText().toStdString());
}

// A link or a FIFO where the log would be: told once, nothing written through it.
TEST_F(Console, AChatLogThatIsNoPlainFileIsToldOnceAndNotWritten) {
  msg_set(CHAT_LOG_REFUSED_MSG, "not written: %s: %s");
  profile_set_int("chat", "logging", 1);
  const std::string victim = dir_.file("victim.txt");
  testutil::write_file(victim, "theirs\n");
  ASSERT_EQ(0, chmod(victim.c_str(), 0644));
  ASSERT_EQ(0, symlink(victim.c_str(), dir_.file("link.txt").c_str()));
  ASSERT_EQ(0, mkfifo(dir_.file("fifo.txt").c_str(), 0600));
  ASSERT_EQ(1, console_init(nullptr));
  for (const char* name : {"link.txt", "fifo.txt"}) {
    profile_set_string("chat", "logfile", name);
    ASSERT_EQ(1, chat_init(nullptr));
    chat_log_open();  // the settings page's Apply
    console_line(CONSOLE_CHAT, "ann: hello");
    chat_term();
    const std::string told = "not written:\t" + dir_.file(name) + ": ", all = console_text();
    EXPECT_TRUE(all.find(told) != all.npos && all.find(told) == all.rfind(told)) << name << " told once";
  }
  EXPECT_EQ("theirs\n", testutil::read_file(victim));
  EXPECT_EQ(std::filesystem::perms(0644), std::filesystem::status(victim).permissions());
}

TEST_F(Console, ALogLeftJustUnderItsCapIsSetAsideAsSoonAsThisRunPassesIt) {
  profile_set_int("chat", "logging", 1);
  profile_set_string("chat", "logfile", "talk.txt");
  const std::string path = dir_.file("talk.txt"), earlier(CHAT_LOG_MAX - 1000, '~'), line(99, 'x');
  testutil::write_file(path, earlier);
  ASSERT_EQ(1, chat_init(nullptr));
  for (int i = 0; i < 100 && !std::filesystem::exists(path + ".1"); ++i) chat_log_write(line.c_str());
  chat_term();
  const std::string before = testutil::read_file(path + ".1"), now = testutil::read_file(path);
  EXPECT_EQ(0u, before.rfind(earlier, 0));
  EXPECT_LE(before.size(), static_cast<size_t>(CHAT_LOG_MAX));
  EXPECT_GT(before.size() + line.size() + 1, static_cast<size_t>(CHAT_LOG_MAX));
  EXPECT_EQ(line + "\n", now.substr(now.find("\n\n", 1) + 2));
}
