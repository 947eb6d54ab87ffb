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

TEST(HostTest, ScriptedMenusChooseOnlyAnEnabledItemThenAreDismissed) {
  HeadlessHost h;
  const HostMenuItem items[] = {{1, "bob", false, false}, {0, nullptr, false, false}, {9000, "Mute", true, true},
                                {9001, "Add", false, false}};
  h.script_menu(9000);
  h.script_menu(9001);  // greyed: the user cannot choose it
  h.script_menu(1);     // the disabled title
  h.script_menu(42);    // not in the menu
  EXPECT_EQ(9000, h.popup_menu(items, 4));
  EXPECT_EQ(0, h.popup_menu(items, 4));
  EXPECT_EQ(0, h.popup_menu(items, 4));
  EXPECT_EQ(0, h.popup_menu(items, 4));
  EXPECT_EQ(0, h.popup_menu(items, 4));  // nothing scripted: dismissed
  ASSERT_EQ(5u, h.menus().size());
  EXPECT_EQ(9000, h.menus()[0].answer);
  ASSERT_EQ(4u, h.menus()[0].items.size());
  EXPECT_EQ("bob", h.menus()[0].items[0].text);
  EXPECT_EQ("", h.menus()[0].items[1].text);
  ASSERT_NE(nullptr, h.menus()[0].item(9000));
  EXPECT_TRUE(h.menus()[0].item(9000)->checked);
  EXPECT_EQ(nullptr, h.menus()[0].item(42));
  h.clear();
  EXPECT_TRUE(h.menus().empty());
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
