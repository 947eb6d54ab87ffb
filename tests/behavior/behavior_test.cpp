#include <gtest/gtest.h>

#include <random>
#include <string>

#include "client/cache/picture.h"
#include "client/servers/attributes.h"
#include "tests/behavior/scene_env.h"

namespace behavior_test {
namespace {

using Actions = SceneTest;
using Strings = std::vector<std::string>;

std::string waiting() { return text_of(teleport_waiting_name()); }
std::string target() {
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  char line[128];
  std::snprintf(line, sizeof line, "%g %g %g %g", x, y, z, yaw);
  return line;
}

TEST_F(Actions, ReadingTheText) {
  // 100n is the number 100 and the word n; .5 is a number; "1.2.3" and "5." are words (here:
  // world names); digits where a word is expected are a word.
  element* e = make("activate teleport 100n 5w; bump teleport .5s 2.25e; create name 12");
  EXPECT_EQ(name_of(e), "12");
  ASSERT_EQ(behavior_trigger(e, "activate"), 1);
  ASSERT_EQ(behavior_trigger(e, "bump"), 1);
  EXPECT_EQ(calls, (Strings{"pick_off", "position 5 0.1 100 0", "pick_off", "position -2.25 0.1 -0.5 0"}));
  behavior_post("teleport 1.2.3");
  behavior_update();
  EXPECT_EQ(waiting(), "1.2.3");
  EXPECT_EQ(target(), "0 0.1 0 0");
  calls.clear();
  ASSERT_EQ(behavior_trigger(make("activate teleport 5. 3n 2e"), "activate"), 1);
  EXPECT_EQ(waiting(), "5.");
  EXPECT_EQ(target(), "-2 0.1 3 0");

  // Quoted words keep blanks and separators and may run to the end; any white space separates;
  // words ignore case.
  element* q = make("CREATE Visible OFF,\tNAME\v\"door, one;\"\r,\fSOLID\nNo; bump name \"open to the end");
  EXPECT_EQ(element_visible(q), 0);
  EXPECT_EQ(element_solid(q), 0);
  EXPECT_EQ(name_of(q), "door, one;");
  ASSERT_EQ(behavior_trigger(q, "bump"), 1);
  EXPECT_EQ(name_of(q), "open to the end");
}

TEST_F(Actions, OnlyTheFirstMatchingClauseRuns) {
  element* e = make("create name a; bump name b, solid off; bump name c; activate name d, frob, name e; "
                    "adone name f visible off");
  EXPECT_EQ(name_of(e), "a");
  EXPECT_EQ(behavior_trigger(e, "bump"), 1);
  EXPECT_EQ(name_of(e), "b");
  EXPECT_EQ(element_solid(e), 0);
  EXPECT_EQ(behavior_trigger(e, "activate"), 0);  // an unknown command ends the clause
  EXPECT_EQ(name_of(e), "d");
  EXPECT_EQ(behavior_trigger(e, "adone"), 1);  // no comma: ends quietly
  EXPECT_EQ(name_of(e), "f");
  EXPECT_EQ(element_visible(e), 1);
  // Ending inside a clause being skipped gives 0; running out of clauses after ";" gives 1.
  EXPECT_EQ(behavior_trigger(make("create name a"), "bump"), 0);
  EXPECT_EQ(behavior_trigger(make("create name a;"), "bump"), 1);
  EXPECT_EQ(behavior_trigger(make("  "), "create"), 0);
  EXPECT_EQ(behavior_trigger(nullptr, "create"), 0);
}

TEST_F(Actions, CreationAndBump) {
  element* e = make("create sound bell, visible off; bump warp +0 +5");
  EXPECT_EQ(element_visible(e), 0);
  EXPECT_FALSE(self_gliding());
  ASSERT_EQ(behavior_trigger(e, "bump"), 1);
  EXPECT_TRUE(self_gliding());
  // The old sound form is played and the create clause still found.
  EXPECT_EQ(name_of(make("sound:chime; create name rung")), "rung");
  // Teleports never run on creation or at an animation's end.
  element* t = make("create teleport 1n 1w, warp +5 +5, name ran; adone teleport 2n 2w");
  EXPECT_EQ(name_of(t), "ran");
  EXPECT_EQ(behavior_trigger(t, "adone"), 1);
  EXPECT_EQ(count("position"), 0);
}

TEST_F(Actions, CheckModeRunsNothing) {
  mover = 1;
  element* e = make("activate visible off, name zz, url x, cursor on, teleport 1n 1w, warp +1 +1, sign hi, "
                    "solid off, noise ding, animate me f 2 2 10, astop, frame 1");
  calls.clear();
  EXPECT_EQ(behavior_check(e), 1);
  EXPECT_EQ(element_visible(e), 1);
  EXPECT_EQ(element_solid(e), 1);
  EXPECT_EQ(name_of(e), "-");
  EXPECT_EQ(element_animation(e), nullptr);
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(self_gliding());
  EXPECT_EQ(waiting(), "-");
  EXPECT_EQ(behavior_check(make("create name a; bump name b c; activate name c; adone name d")), 1);
  EXPECT_EQ(behavior_check(make("create name a; later name b")), 0);
  EXPECT_EQ(behavior_check(make("create name a; bump visible")), 0);
}

TEST_F(Actions, APostedTextRunsItsFirstCommandOnce) {
  behavior_post("teleport first 1n 1w");
  behavior_post("teleport somewhere 2n 3w 4a 90, warp +1 +1");  // replaces the first
  EXPECT_EQ(waiting(), "-");  // not before the task runs
  behavior_update();
  EXPECT_EQ(waiting(), "somewhere");
  EXPECT_EQ(target(), "3 4 2 90");
  EXPECT_FALSE(self_gliding());
  teleport_reset_state();
  behavior_update();  // freed: nothing runs again
  EXPECT_EQ(waiting(), "-");
  // Commands that need an object do nothing.
  element* door = make("create name door");
  for (const char* text : {"visible door off", "name x", "sign hello", "animate me f 2 2 10", "solid door off"}) {
    behavior_post(text);
    behavior_update();
  }
  EXPECT_EQ(element_visible(door), 1);
  EXPECT_EQ(element_solid(door), 1);
  EXPECT_EQ(name_of(door), "door");
  EXPECT_EQ(count("sign"), 0);
}

TEST_F(Actions, NamedTargetsAreOnlyThoseOfTheSameOwner) {
  element* mine1 = make("create name door", 1, "front door");
  element* theirs = make("create name DOOR", 2);
  element* mine2 = make("create name Door", 1, "back door");
  element* lever = make("activate visible door off, solid door off, sign name=door color=Red \"Hi there\"; "
                        "bump sign bcolor=ff00ff", 1, "the lever");
  ASSERT_EQ(behavior_trigger(lever, "activate"), 1);
  for (element* e : {mine1, mine2}) {
    EXPECT_EQ(element_visible(e), 0);
    EXPECT_EQ(element_solid(e), 0);
  }
  EXPECT_EQ(element_visible(theirs), 1);
  EXPECT_EQ(element_solid(theirs), 1);
  EXPECT_EQ(element_visible(lever), 1);
  EXPECT_EQ(calls, (Strings{"sign Hi there|Red|-", "sign Hi there|Red|-"}));
  EXPECT_EQ(sign_objects, (std::vector<const void*>{element_model_instance(mine2), element_model_instance(mine1)}));
  calls.clear();
  ASSERT_EQ(behavior_trigger(lever, "bump"), 1);
  EXPECT_EQ(calls, (Strings{"sign the lever|-|ff00ff"}));  // its own description
}

TEST_F(Actions, TeleportPositions) {
  ASSERT_EQ(behavior_trigger(make("activate teleport 10n 20e"), "activate"), 1);
  self_set_position(10, 2, 20, 45);
  ASSERT_EQ(behavior_trigger(make("bump teleport +1 -2 +1.5a -30"), "bump"), 1);
  ASSERT_EQ(behavior_trigger(make("activate teleport 1s 2w 3a 270"), "activate"), 1);
  EXPECT_EQ(calls, (Strings{"pick_off", "position -20 0.1 10 0", "pick_off", "position 8 3.5 21 15", "pick_off",
                            "position 2 3 -1 270"}));
  calls.clear();
  for (const char* text : {"bump teleport +1 5e", "bump teleport 5n +1", "bump teleport 5x 3w", "bump teleport 5n",
                           "bump teleport 5n 3w +10", "bump teleport +1 +2 90", "bump teleport 5n 3w 1a +5",
                           "bump warp world 1n 1w", "bump warp +0 -20 +1a 10",
                           "bump teleport 1n 99999999999999999999999999999999999999999999999999w"}) {
    EXPECT_EQ(behavior_trigger(make(text), "bump"), 0) << text;
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(self_gliding());
}

TEST_F(Actions, UrlsAndCursor) {
  attributes_load(nullptr, 0);
  element* e = make("create url http://a/b; activate url c/d, cursor on; bump cursor off");
  ASSERT_NE(attribute_set(ATTR_URL_COMMAND, "Y", 1), nullptr);
  make("create url x");  // the world forbids pages opened by objects on their own
  mover = 1;
  make("create cursor on");  // never under create
  ASSERT_EQ(behavior_trigger(e, "activate"), 1);
  mover = 0;
  picker = 1;
  ASSERT_EQ(behavior_trigger(e, "bump"), 1);
  EXPECT_EQ(calls, (Strings{"web http://a/b 1", "web c/d 0", "as_picker", "pick_off"}));
  // An animation's end opens pages on its own as create does: the world's ban holds there too.
  calls.clear();
  element* done = make("adone url http://a/done");
  ASSERT_EQ(behavior_trigger(done, "adone"), 1);
  EXPECT_TRUE(calls.empty());
  attributes_load(nullptr, 0);
  ASSERT_EQ(behavior_trigger(done, "adone"), 1);
  EXPECT_EQ(calls, (Strings{"web http://a/done 1"}));
  attributes_load(nullptr, 0);
}

TEST_F(Actions, PicturesAreFetchedInAdvanceOutsideCreateClauses) {
  picture_init();
  make("create picture name=nobody third.jpg");
  EXPECT_EQ(picture_count(), 0);
  element* e = make("activate picture update=5 name=nobody fourth.jpg");
  EXPECT_EQ(picture_count(), 1);
  ASSERT_EQ(behavior_trigger(e, "activate"), 1);
  EXPECT_EQ(picture_count(), 1);
  make("create picture update=-3 first.jpg");
  EXPECT_EQ(picture_count(), 2);
  while (element* old = element_first()) element_destroy(old);
  picture_reset();
}

// Every command with bad arguments is an error: the clause stops there, in both modes.
TEST_F(Actions, BadArgumentsAreErrors) {
  const char* bad[] = {
      "sound", "noise ;", "url +", "visible", "visible maybe", "visible door sometimes", "solid door", "name",
      "animate", "animate me fire 3", "animate me fire 3 3", "animate me fire x 3 100", "animate me fire 0 0 100",
      "animate me fire 3 5 100", "animate me fire 3 5 100 1 2", "animate me fire 3.5 3 100", "animate tag=2 nomask",
      "frame", "frame door", "frame +", "frame 1.5", "sign a b", "sign color=red color=blue", "cursor",
      "cursor maybe", "picture a b", "picture update=1 update=2", "teleport", "warp 1n", "frob", "+"};
  for (const char* command : bad) {
    element* e = make(std::string("activate ") + command + ", name ran");
    EXPECT_EQ(behavior_trigger(e, "activate"), 0) << command;
    EXPECT_EQ(name_of(e), "-") << command;
    EXPECT_EQ(behavior_check(e), 0) << command;
  }
  for (const char* command : {"astart", "astop", "astart on door off", "sign", "picture", "frame 0"}) {
    element* e = make(std::string("activate ") + command + ", name ran");
    EXPECT_EQ(behavior_trigger(e, "activate"), 1) << command;
    EXPECT_EQ(name_of(e), "ran") << command;
  }
}

std::string padded(size_t length, const std::string& last) {
  std::string text = "activate ";
  while (text.size() + 10 + last.size() <= length) text += "solid on, ";
  return text + std::string(length - text.size() - last.size(), ' ') + last;
}

TEST_F(Actions, TheWorkAreaHolds255Bytes) {
  std::string exact = padded(255, "name abcdef");
  ASSERT_EQ(exact.size(), 255u);
  element* e = make(exact);
  ASSERT_EQ(behavior_trigger(e, "activate"), 1);
  EXPECT_EQ(name_of(e), "abcdef");
  // Longer texts are cut: what lies past byte 255 is never read.
  element* longer = make(exact + "gh, visible off, name later");
  ASSERT_EQ(behavior_trigger(longer, "activate"), 1);
  EXPECT_EQ(name_of(longer), "abcdef");
  EXPECT_EQ(element_visible(longer), 1);
  std::string world(246, 'w');
  behavior_post(("teleport " + world + " 1n 1w").c_str());
  behavior_update();
  EXPECT_EQ(waiting(), world);
  EXPECT_EQ(target(), "0 0.1 0 0");
}

TEST_F(Actions, RandomTextsNeverCrash) {
  std::mt19937 random(1234);
  const char* words[] = {"create ", "bump ", "activate ", "adone ", "teleport ", "warp ", "animate ", "me ",
                         "frame ", "astart ", "astop ", "sign ", "picture ", "visible ", "solid ", "name ",
                         "url ", "cursor ", "noise ", "sound ", "tag=", "nomask ", "color=", "name=", "update=",
                         "+", "-", ", ", "; ", "\"", "1 ", "3 ", "100 ", "2n ", "5e ", "a ", ".", "\t", "on "};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    size_t length = random() % 320;
    while (text.size() < length) text += words[random() % (sizeof words / sizeof words[0])];
    element* e = make(text, 1 + static_cast<int>(random() % 2));
    behavior_check(e);
    for (const char* trigger : {"create", "bump", "activate", "adone"}) behavior_trigger(e, trigger);
    behavior_post(text.c_str());
    behavior_update();
    if (round % 20 == 19) {
      frame_after(37);
      while (element* old = element_first()) element_destroy(old);
      frame_after(1);
    }
  }
}

}  // namespace
}  // namespace behavior_test
