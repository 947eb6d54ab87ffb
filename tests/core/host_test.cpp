#include <gtest/gtest.h>

#include "platform/headless_host.h"
#include "platform/host.h"

TEST(HostTest, ScriptedAnswersThenDefaultButtons) {
  HeadlessHost h;
  h.script_answer(HOST_IDNO);
  EXPECT_EQ(h.message_box("Quit?", "tessel", HOST_MB_YESNO), HOST_IDNO);
  EXPECT_EQ(h.message_box("Quit?", "tessel", HOST_MB_YESNO), HOST_IDYES);
  EXPECT_EQ(h.message_box("Go on?", "tessel", HOST_MB_OKCANCEL | HOST_MB_ICONWARNING), HOST_IDOK);
  EXPECT_EQ(h.message_box(nullptr, nullptr, HOST_MB_OK), HOST_IDOK);
  ASSERT_EQ(h.boxes().size(), 4u);
  EXPECT_EQ(h.boxes()[0].answer, HOST_IDNO);
  EXPECT_EQ(h.boxes()[2].text, "Go on?");
  EXPECT_EQ(h.boxes()[2].flags, unsigned(HOST_MB_OKCANCEL | HOST_MB_ICONWARNING));
  EXPECT_EQ(h.boxes()[3].text, "");
  EXPECT_FALSE(h.quit_posted());
  h.post_quit(3);
  EXPECT_TRUE(h.quit_posted());
  EXPECT_EQ(h.quit_code(), 3);
  h.clear();
  EXPECT_TRUE(h.boxes().empty());
  EXPECT_FALSE(h.quit_posted());
}

TEST(HostTest, ProcessWideFallbackWhenNoneIsSet) {
  host_set(nullptr);
  Host* fallback = host();
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(host(), fallback);
  EXPECT_EQ(fallback->message_box("printed to stderr", "Error", HOST_MB_YESNO), HOST_IDYES);
  HeadlessHost mine;
  host_set(&mine);
  EXPECT_EQ(host(), &mine);
  host_set(nullptr);
  EXPECT_EQ(host(), fallback);
}

TEST(HostTest, FlagsDoNotOverlap) {
  // Button set, icon and modality are separate bit fields.
  EXPECT_EQ(HOST_MB_OKCANCEL & HOST_MB_ICONS, 0u);
  EXPECT_EQ(HOST_MB_YESNO & HOST_MB_ICONS, 0u);
  EXPECT_EQ(HOST_MB_ICONERROR & HOST_MB_BUTTONS, 0u);
  EXPECT_EQ(HOST_MB_TASKMODAL & (HOST_MB_ICONS | HOST_MB_BUTTONS), 0u);
  EXPECT_NE(HOST_MB_ICONERROR, HOST_MB_ICONWARNING);
  EXPECT_NE(HOST_MB_ICONWARNING, HOST_MB_ICONINFORMATION);
  EXPECT_EQ(host_default_answer(HOST_MB_YESNO | HOST_MB_ICONERROR), HOST_IDYES);
}
