// A line typed on the chat line goes out to the world, another user's answer shows in the
// console and in a balloon over that user's avatar, the meters' panes show, and world notices
// (a refused build request) reach the console, and the logo rests once nothing is awaited.
#include "world_env.h"

using namespace world_env;

TEST_F(WorldChat, ATypedLineGoesOutAndTheAnswerShowsInTheConsoleAndABalloon) {
  ASSERT_NE(0, tessel_init(0, "", 1));
  ASSERT_TRUE(run_until([] { return tessel_frame_state() == FRAME_RUNNING && world_state() == WORLD_IN &&
                                    avatar_find(2) != nullptr; }))
      << "frame state " << tessel_frame_state() << ", world state " << world_state();
  // In the world with nothing more to wait on, the logo shows frame 1, drawn once.
  QtLogo* logo = qt_->main_widget()->findChild<QtLogo*>("Veldara Logo");
  ASSERT_NE(nullptr, logo);
  ASSERT_TRUE(run_until([] { return logo_idle_drawn(); })) << "still busy: frame " << logo_frame();
  EXPECT_EQ(LOGO_IDLE_FRAME, logo->frame());
  EXPECT_EQ(LOGO_IDLE_FRAME, logo_frame());
  int logo_shown = logo->shown_count();
  uint32_t until = platform_ticks() + 350;
  bool idle = true;
  while (idle && tick_before(platform_ticks(), until)) {
    step();
    idle = !logo_busy();
  }
  if (idle) {
    EXPECT_EQ(logo_shown, logo->shown_count()) << "an idle logo is drawn again";
  }
  QtChatLine* line = chat_qt_line();
  ASSERT_NE(nullptr, line);
  QtConsole* pane = console_qt_pane();
  ASSERT_NE(nullptr, pane);
  EXPECT_EQ(qt_->main_widget(), line->parentWidget());
  // The frame-rate pane kept in [show] shows a rate; the bandwidth pane comes from the View menu.
  ASSERT_NE(0, fps_pane());
  ASSERT_TRUE(run_until([] { return fps_rate() > 0; }));
  step();
  double shown = 0;
  EXPECT_EQ(1, std::sscanf(status_text(fps_pane()), "%lf", &shown)) << status_text(fps_pane());
  EXPECT_GT(shown, 0.0);
  EXPECT_EQ(0, bps_pane());
  menu_handle(122);
  EXPECT_NE(0, bps_pane());
  EXPECT_EQ(1, profile_int("show", "bandwidth"));
  menu_handle(122);
  EXPECT_EQ(0, bps_pane());
  EXPECT_EQ(0, profile_int("show", "bandwidth"));
  // Bob has not spoken: no balloon over him yet.
  EXPECT_EQ(0, balloon_count());
  for (int i = 0; i < 3; ++i) step();
  int white_before = white_in_viewport(*qt_);

  line->setText("hello");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(line, &enter);
  EXPECT_TRUE(line->QLineEdit::text().isEmpty());
  // Request 7 with the text as a string: code, length byte, the bytes.
  std::string sent;
  ASSERT_TRUE(run_until([&] {
    std::string l = world_->line(3);
    if (l.rfind("frame ", 0) == 0 && l.find(" 07") != std::string::npos) sent = l;
    return !sent.empty();
  }));
  EXPECT_EQ(sent.substr(sent.find(' ', 6) + 1), "070568656c6c6f");
  // The own line, then bob's answer.
  ASSERT_TRUE(run_until([this] { return console().find("bob:\tyou said: hello") != std::string::npos; }));
  EXPECT_NE(std::string::npos, console().find("demo:\thello"));
  avatar_record* bob = avatar_find(2);
  ASSERT_NE(nullptr, bob);
  EXPECT_STREQ("bob: you said: hello", balloon_text(bob->balloon_handle));
  QTextBlock last = pane->document()->lastBlock();
  EXPECT_EQ("bob:\tyou said: hello", last.text().toStdString());
  for (int i = 0; i < 5; ++i) step();
  EXPECT_GT(balloon_drawn(), 0);
  int white_after = white_in_viewport(*qt_);
  EXPECT_GT(white_after, white_before + 20) << white_before;

  // Typed in first person: no own balloon; third person shows the last line, and a world
  // change brings back the name.
  EXPECT_FALSE(chat_own_balloon_shown());
  menu_handle(127);
  for (int i = 0; i < 3; ++i) step();
  EXPECT_TRUE(chat_own_balloon_shown());
  EXPECT_STREQ("demo: hello", chat_own_balloon_text());
  chat_reset();
  step();
  EXPECT_STREQ("demo", chat_own_balloon_text());
  menu_handle(126);
  step();
  EXPECT_FALSE(chat_own_balloon_shown());

  // Characters typed anywhere in the main window go to the chat line; Enter sends them.
  for (char c : std::string("hi\r")) handle_window(HostEvent{HOST_WM_CHAR, c, 0, 0});
  sent.clear();
  ASSERT_TRUE(run_until([&] {
    std::string l = world_->line(3);
    if (l.rfind("frame ", 0) == 0 && l.find(" 07") != std::string::npos) sent = l;
    return !sent.empty();
  }));
  EXPECT_EQ(sent.substr(sent.find(' ', 6) + 1), "07026869");

  // A refused build request: the world's answer for object 99 is code 100.
  prop_delete(0, 0, 99);
  world_->command("reply 1 0 0000006364");
  ASSERT_TRUE(run_until([this] { return console().find(msg(37)) != std::string::npos; }));
}
