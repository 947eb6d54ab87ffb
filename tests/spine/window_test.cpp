// The main window's procedure, the layout, and modal work with its nested frames.
#include <cstring>
#include <string>
#include <vector>

#include "client/core/keys.h"
#include "spine_fixture.h"

class Window : public Spine {
 protected:
  void SetUp() override {
    Spine::SetUp();
    install();
    ASSERT_TRUE(start());
  }
  long send(int message, intptr_t wparam = 0, int x = 0, int y = 0) {
    return host_.send(HostEvent{message, wparam, x, y});
  }
};

TEST_F(Window, ResizingWhileTheSplashIsUpPlacesNothing) {
  for (int st : {FRAME_WAIT_UNIVERSE, FRAME_WAIT_LOGIN, FRAME_LOGIN_DIALOG, FRAME_IDLE}) {
    tessel_set_frame_state(st);
    send(HOST_WM_SIZE, HOST_SIZE_RESTORED, 700, 500);
    int w = -1, h = -1;
    tessel_layout_size(&w, &h);
    EXPECT_EQ(w, 0) << st;
    EXPECT_EQ(profile_int("layout", "main_width"), -1) << st;
  }
}

TEST_F(Window, LayoutInStateFiveSavesTheSize) {
  tessel_set_frame_state(FRAME_RUNNING);
  host_.set_rect(HostRect{40, 50, 700, 500});
  send(HOST_WM_SIZE, HOST_SIZE_RESTORED, 690, 470);
  int w = 0, h = 0;
  tessel_layout_size(&w, &h);
  EXPECT_EQ(w, 690);
  EXPECT_EQ(h, 470);
  EXPECT_EQ(profile_int("layout", "main_width"), 700);
  EXPECT_EQ(profile_int("layout", "main_height"), 500);
  EXPECT_EQ(profile_int("layout", "maximized"), 0);
  // Minimising places nothing; maximised only records that.
  send(HOST_WM_SIZE, HOST_SIZE_MINIMIZED, 0, 0);
  tessel_layout_size(&w, &h);
  EXPECT_EQ(w, 690);
  host_.set_maximized(true);
  host_.set_rect(HostRect{0, 0, 1024, 768});
  send(HOST_WM_SIZE, HOST_SIZE_MAXIMIZED, 1024, 740);
  EXPECT_EQ(profile_int("layout", "maximized"), 1);
  EXPECT_EQ(profile_int("layout", "main_width"), 700);
}

TEST_F(Window, IconicWindowPlacesNothing) {
  tessel_set_frame_state(FRAME_RUNNING);
  host_.set_iconic(true);
  tessel_layout(500, 400);
  int w = 0;
  tessel_layout_size(&w, nullptr);
  EXPECT_EQ(w, 0);
}

TEST_F(Window, MovingSavesThePositionUnlessMinimisedOrMaximised) {
  host_.set_rect(HostRect{11, 22, 640, 480});
  send(HOST_WM_MOVE, 0, 11, 22);
  EXPECT_EQ(profile_int("layout", "main_x"), 11);
  EXPECT_EQ(profile_int("layout", "main_y"), 22);
  host_.set_rect(HostRect{-32000, -32000, 160, 30});
  host_.set_iconic(true);
  send(HOST_WM_MOVE, 0, -32000, -32000);
  EXPECT_EQ(profile_int("layout", "main_x"), 11);
  host_.set_iconic(false);
  host_.set_maximized(true);
  send(HOST_WM_MOVE, 0, 0, 0);
  EXPECT_EQ(profile_int("layout", "main_x"), 11);
}

TEST_F(Window, KioskRefusesMinimiseCloseAndRestore) {
  ASSERT_TRUE(restart("[special]\nkiosk=1\n"));
  for (int c : {int(HOST_SC_MINIMIZE), int(HOST_SC_CLOSE), 0xF093, int(HOST_SC_RESTORE), 0xF122})
    EXPECT_EQ(send(HOST_WM_SYSCOMMAND, c), 0) << c;
  EXPECT_TRUE(host_.window_exists());
  EXPECT_EQ(send(HOST_WM_SYSCOMMAND, 0xF030, 0, 0x10000), 0);  // lParam above 0xFFFF
  // Without the kiosk flag the close command closes the window and ends the loop.
  ASSERT_TRUE(restart("[general]\n"));
  send(HOST_WM_SYSCOMMAND, HOST_SC_CLOSE);
  EXPECT_FALSE(host_.window_exists());
  EXPECT_TRUE(host_.quit_posted());
  EXPECT_EQ(host_.timer_interval(TESSEL_TIMER_ID), 0);
}

TEST_F(Window, BuilderKeysWithoutASelectionPostCommands) {
  bool record = true;
  EXPECT_EQ(frame_builder_command(VK_KEY_PRIOR, false, &record), 124);
  EXPECT_FALSE(record);
  EXPECT_EQ(frame_builder_command(VK_KEY_NEXT, false, &record), 125);
  EXPECT_EQ(frame_builder_command(VK_KEY_END, false, &record), 127);
  EXPECT_EQ(frame_builder_command(VK_KEY_HOME, false, &record), 126);
  EXPECT_EQ(frame_builder_command(VK_KEY_LEFT, false, &record), 0);
  EXPECT_TRUE(record);
  EXPECT_EQ(frame_builder_command(VK_KEY_ADD, false, &record), 0);
  EXPECT_TRUE(record);
}

TEST_F(Window, BuilderKeysWithASelection) {
  const int keys[][2] = {{VK_KEY_PRIOR, 116}, {VK_KEY_NEXT, 117}, {VK_KEY_LEFT, 114},
                         {VK_KEY_UP, 112},    {VK_KEY_RIGHT, 115}, {VK_KEY_DOWN, 113},
                         {VK_KEY_INSERT, 109}, {VK_KEY_DELETE, 108}};
  for (auto& k : keys) {
    bool record = true;
    EXPECT_EQ(frame_builder_command(k[0], true, &record), k[1]);
    EXPECT_FALSE(record) << k[0];
  }
  bool record = false;
  EXPECT_EQ(frame_builder_command(VK_KEY_ADD, true, &record), 110);
  EXPECT_TRUE(record);  // the pad's plus and minus stay held keys
  record = false;
  EXPECT_EQ(frame_builder_command(VK_KEY_SUBTRACT, true, &record), 111);
  EXPECT_TRUE(record);
  EXPECT_EQ(frame_builder_command(VK_KEY_END, true, &record), 0);
  EXPECT_TRUE(record);
}

TEST_F(Window, KeyDownRecordsOrPostsAndKeyUpReleases) {
  key_reset();
  EXPECT_EQ(send(HOST_WM_KEYDOWN, 'W'), 0);
  EXPECT_TRUE(key_pressed('W'));
  send(HOST_WM_KEYUP, 'W');
  EXPECT_FALSE(key_pressed('W'));
  // Page Up without a selection becomes a command and is not recorded.
  send(HOST_WM_KEYDOWN, VK_KEY_PRIOR);
  EXPECT_FALSE(key_pressed(VK_KEY_PRIOR));
  ASSERT_EQ(host_.posted().size(), 1u);
  EXPECT_EQ(host_.posted()[0].message, HOST_WM_COMMAND);
  EXPECT_EQ(host_.posted()[0].wparam, 124);
  // Losing the focus forgets every held key.
  send(HOST_WM_KEYDOWN, 'A');
  send(HOST_WM_KILLFOCUS);
  EXPECT_FALSE(key_pressed('A'));
}

TEST_F(Window, PadMinusCharacterRepeatsTheKey) {
  key_reset();
  host_.set_key(VK_KEY_SUBTRACT, true);
  send(HOST_WM_CHAR, '-');
  EXPECT_TRUE(key_pressed(VK_KEY_SUBTRACT));
  host_.set_key(VK_KEY_SUBTRACT, false);
  key_reset();
  send(HOST_WM_CHAR, '-');
  EXPECT_FALSE(key_pressed(VK_KEY_SUBTRACT));  // the main block's minus is a character
}

TEST_F(Window, ToggleToolbarWritesTheSetting) {
  ASSERT_TRUE(tessel_toolbar_shown());
  tessel_toggle_toolbar();
  EXPECT_FALSE(tessel_toolbar_shown());
  EXPECT_EQ(profile_int("show", "toolbar"), 0);
  tessel_toggle_toolbar();
  EXPECT_EQ(profile_int("show", "toolbar"), 1);
}

// --- Modal work ---

namespace {
int modal_frames = 0;
int poll_in_modal() { return ++modal_frames, 0; }
const FrameLinks counting_links = {poll_in_modal, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr};
bool after_frames(void* user) { return modal_frames >= *static_cast<int*>(user); }
}  // namespace

TEST_F(Window, ModalWorkRunsFramesFromTheTimerOnly) {
  frame_set_links(&counting_links);
  modal_frames = 0;
  host_.on_step([](long) { fake_now += 250; });
  int want = 3;
  EXPECT_TRUE(tessel_modal(after_frames, &want));
  EXPECT_EQ(modal_frames, 3);
  // Two steps per 500 ms: only the timer ran frames, the idle loop was off.
  EXPECT_GE(host_.steps(), 5);
  EXPECT_TRUE(host_.foreground());
  EXPECT_FALSE(tessel_in_background());
  host_.on_step(nullptr);
}

namespace {
// A connection's receive buffer, refilled and freed by every poll.
uint8_t* stream_buffer = nullptr;
size_t stream_length = 0;
std::vector<std::string> handled;
void refill(const char* text) {
  delete[] stream_buffer;
  stream_length = std::strlen(text);
  stream_buffer = new uint8_t[stream_length];
  std::memcpy(stream_buffer, text, stream_length);
}
bool dialog_done = false;
bool dialog_closed(void*) { return dialog_done; }
bool interrupted = false;
void handler(const uint8_t* message, size_t length, void*);
int poll_connection() {
  // Each poll takes the next message into the same buffer and hands it on.
  refill("second reply");
  interrupted = tessel_dispatch(stream_buffer, stream_length, handler, nullptr) || interrupted;
  delete[] stream_buffer;
  stream_buffer = nullptr;
  dialog_done = true;
  return 0;
}
void handler(const uint8_t* message, size_t length, void*) {
  std::string before(reinterpret_cast<const char*>(message), length);
  if (before == "first reply") {
    // This reply opens a dialog; frames (and the connection's poll) go on inside it.
    tessel_modal(dialog_closed, nullptr);
  }
  // Reads its message again after the nested loop returned.
  handled.push_back(std::string(reinterpret_cast<const char*>(message), length));
}
const FrameLinks connection_links = {poll_connection, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr};
}  // namespace

TEST_F(Window, AReplyHandlerKeepsItsMessageAcrossANestedDialog) {
  frame_set_links(&connection_links);
  host_.on_step([](long) { fake_now += 500; });
  handled.clear();
  dialog_done = false;
  refill("first reply");
  bool moved_on = tessel_dispatch(stream_buffer, stream_length, handler, nullptr);
  host_.on_step(nullptr);
  // The nested poll replaced and freed the buffer; the outer handler still read its own reply.
  ASSERT_EQ(handled.size(), 2u);
  EXPECT_EQ(handled[0], "second reply");
  EXPECT_EQ(handled[1], "first reply");
  EXPECT_TRUE(moved_on);        // the caller learns that its stream moved meanwhile
  EXPECT_FALSE(interrupted);    // the inner dispatch opened no dialog
  EXPECT_EQ(stream_buffer, nullptr);
  // A handler that opens nothing reports no interruption.
  uint8_t plain[] = {'x'};
  EXPECT_FALSE(tessel_dispatch(plain, 1, [](const uint8_t*, size_t, void*) {}, nullptr));
}

TEST_F(Window, QuitInsideAModalLoopEndsItAndStaysPosted) {
  host_.on_step([](long) { tessel_quit(); });
  EXPECT_FALSE(tessel_modal([](void*) { return false; }, nullptr));
  host_.on_step(nullptr);
  EXPECT_TRUE(host_.quit_posted());
  EXPECT_EQ(host_.run_loop(), 0);  // the outer loop ends at once
}
