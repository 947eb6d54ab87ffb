// The settings sheet opened from its menu item in a started program: what each page writes,
// the bounds of its values, and what takes effect at once.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client/cache/disk.h"
#include "client/cache/picture.h"
#include "client/net/proxy.h"
#include "client/scene/driver.h"
#include "client/scene/sound.h"
#include "client/scene/visible.h"
#include "client/servers/teleport.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "client/shell/advanced.h"
#include "client/shell/chat.h"
#include "client/shell/chat_page.h"
#include "client/shell/contacts.h"
#include "client/shell/disk_page.h"
#include "client/shell/dloptions.h"
#include "client/shell/general.h"
#include "client/shell/perform.h"
#include "client/shell/privacy.h"
#include "client/shell/proxy_page.h"
#include "tests/settings/settings_fixture.h"
#include "tests/support/test_util.h"

namespace settingstest {
namespace {

enum Page { PERF, DISK, PROXY, GENERAL, DLOPT, PRIVACY, CHAT, ADVANCED };

// Lines of the trace log that hold the text.
int count_in_log(const std::string& text) {
  std::string log = testutil::read_file("tessel.log");
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

const char kBase[] = "[general]\nrating=2\n[performance]\navatars=1\n";

using Changes = std::map<std::string, std::string>;

class Sheet : public SettingsFixture {
 protected:
  // Applies the steps with OK and gives what the settings file gained.
  Changes apply(ScriptedDialogs::Script steps) {
    Ini before = ini();
    steps.push_back(press(DIALOG_OK));
    EXPECT_EQ(DIALOG_OK, open_sheet(std::move(steps)));
    return changes(before, ini());
  }
};

// The person's own files (settings, trace logs, chat log, contact list, remembered teleports,
// telegrams, the cache's pairs) are theirs alone after a start, even where an older run left
// them readable by others or by their group: each is made 0600 with a line in the log, and
// another local user reads none of them. The same user reads a file left open to all in the
// same folder, so the folder itself is within their reach.
TEST_F(Sheet, AnotherLocalUserReadsNoneOfThePersonsFiles) {
  // A first run makes them all.
  ASSERT_TRUE(start("[debug]\ntrace=1\n[chat]\nlogging=1\n[citizen]\nname=alice\npass=0011\n"));
  chat_log_write("alice: hello");
  contacts_save();
  auto prompt = teleport_hook.prompt_text_small;
  teleport_hook.prompt_text_small = [](const char*, const char*, const char*) { return "by the tree"; };
  teleport_remember();
  teleport_hook.prompt_text_small = prompt;
  stop();
  log_reset();
  std::vector<std::string> files = {"tessel.ini", "tessel.log", "chat.txt", "contacts.txt", teleport_file_name,
                                    "telegram.dat", "telegram.idx"};
  size_t pairs = 0;
  for (auto at = std::filesystem::recursive_directory_iterator(dir_.file("cache"));
       at != std::filesystem::recursive_directory_iterator(); ++at) {
    std::string ext = at->path().extension();
    if (at.depth() <= 2 && at->is_regular_file() && (ext == ".dat" || ext == ".idx")) {
      files.push_back(std::filesystem::relative(at->path(), dir_.path()));
      ++pairs;
    }
  }
  ASSERT_GE(pairs, 2u);
  // As an older run left them: open to all, or to the group.
  for (size_t i = 0; i < files.size(); ++i)
    ASSERT_EQ(chmod(dir_.file(files[i]).c_str(), i % 2 ? 0640 : 0644), 0) << files[i];
  testutil::write_file(dir_.file("others.txt"), "anyone's\n");
  ASSERT_EQ(chmod(dir_.file("others.txt").c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // only the files' own modes stand in the way

  ASSERT_TRUE(restart());
  stop();
  log_reset();
  // The first run's log is the last run's now, kept aside at the start.
  files.push_back("tessel.log.1");
  std::string log = testutil::read_file(dir_.file("tessel.log"));
  for (const auto& f : files) {
    struct stat st {};
    ASSERT_EQ(stat(dir_.file(f).c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    if (f == "tessel.log") continue;  // made afresh
    EXPECT_EQ(count_in_log(dir_.file(f) + " could be read by others"), 1) << f << "\n" << log;
  }
  std::string read_by_other = testutil::in_child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    std::string read;
    for (const auto& f : files)
      if (open(dir_.file(f).c_str(), O_RDONLY) >= 0) read += f + " ";
    bool control = testutil::read_file(dir_.file("others.txt")) == "anyone's\n";
    return (read.empty() ? "none" : read) + (control ? ", but others.txt" : ", nor others.txt");
  });
  EXPECT_EQ(read_by_other, "none, but others.txt");  // "" when the child could not become another user
}

// Values that a module brings into its range, or that are not wholly numbers, are used as
// the table says and named once each in the log.
TEST_F(Sheet, StartupNamesEveryValueItDoesNotUseAsItStands) {
  ASSERT_TRUE(start("[debug]\nflush=1\n[disk]\nlimit=-100\ndelete=-5\n[proxy]\naddress=proxy.invalid\n"
                    "port=-70000\n[chat]\nnear=1e9\n[general]\nrating=abc\n"));
  EXPECT_EQ(20, disk_limit());
  EXPECT_EQ(1, disk_delete_days());
  EXPECT_EQ(65535, proxy_port());
  EXPECT_EQ(12, chat_near());
  EXPECT_EQ(2, general_rating());
  for (const char* line : {"[disk] limit=\"-100\" is out of range: 20 used", "[disk] delete=\"-5\" is out of range: 1 used",
                           "[proxy] port=\"-70000\" is out of range: 65535 used", "[chat] near=\"1e9\" is not a number: 12 used",
                           "[general] rating=\"abc\" is not a number: 2 used"})
    EXPECT_EQ(1, count_in_log(line)) << line << "\n" << testutil::read_file("tessel.log");
}

TEST_F(Sheet, StartupBringsValuesOutsideTheirRangesBackToTheDefaults) {
  ASSERT_TRUE(start("[performance]\nframerate=2\nvisibility=121\n[downloads]\npictures=5\naudio=1\n"
                    "[privacy]\njoin=7\nhide_world=1\n[general]\nrating=9\n"));
  EXPECT_EQ(7, perform_framerate());
  EXPECT_EQ(40, perform_visibility());
  EXPECT_EQ(100, dloptions_pictures());
  EXPECT_EQ(1, dloptions_audio());
  EXPECT_EQ(0, privacy_join());
  EXPECT_EQ(1, privacy_hide_world());
  EXPECT_EQ(2, general_rating());
  // The modules that use them read them through the program's own hooks.
  ASSERT_NE(nullptr, visible_hook.perform_visibility);
  EXPECT_EQ(40, visible_hook.perform_visibility());
  ASSERT_NE(nullptr, world_hook.general_rating);
  EXPECT_EQ(2, world_hook.general_rating());
  EXPECT_EQ(100, dloptions_pictures());
  ASSERT_NE(nullptr, picture_hook.dloptions_pictures);
  EXPECT_EQ(100, picture_hook.dloptions_pictures());

  // Without URL downloads and without the keys, neither pictures nor sounds are fetched.
  testutil::write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[performance]\nurls=0\n");
  ASSERT_TRUE(restart());
  EXPECT_EQ(0, dloptions_pictures());
  EXPECT_EQ(0, dloptions_audio());
  EXPECT_EQ(-1, perform_try_directdraw());  // as it was stored: absent
  EXPECT_EQ("0", ini()["performance.try_directdraw"]);
}

// A settings file with none of the pages' keys: every value is the settings table's default, in the
// accessors and in the modules that use them.
TEST_F(Sheet, AnEmptySettingsFileMeansTheTablesDefaultsEverywhere) {
  // Nothing but the colour-depth warning's "don't ask again", which no page shows.
  ASSERT_TRUE(start(""));
  EXPECT_EQ(1, perform_avatars());
  EXPECT_EQ(1, perform_zembrels());
  EXPECT_EQ(0, perform_panning());
  EXPECT_EQ(7, perform_framerate());
  EXPECT_EQ(40, perform_visibility());
  EXPECT_EQ(-1, perform_directdraw());
  EXPECT_EQ(-1, perform_try_directdraw());
  EXPECT_EQ(-1, perform_direct3d());
  EXPECT_EQ(-1, perform_hr());
  EXPECT_EQ(1, general_sound());
  EXPECT_EQ(1, general_music());
  EXPECT_EQ(2, general_rating());
  EXPECT_EQ(100, dloptions_pictures());
  EXPECT_EQ(150, dloptions_audio());
  EXPECT_EQ(0, privacy_join());
  EXPECT_EQ(0, privacy_verify());
  EXPECT_EQ(0, privacy_hide_world());
  EXPECT_EQ(nullptr, proxy_text());
  EXPECT_EQ(nullptr, advanced_local_path());
  EXPECT_EQ(0, advanced_use_local_path());
  EXPECT_EQ(50, chat_avatars());
  EXPECT_EQ(12, chat_near());
  EXPECT_EQ(1, chat_balloons());
  EXPECT_EQ(0, chat_logging());
  EXPECT_STREQ("chat.txt", chat_logfile());
  // What the modules that act on them were given.
  EXPECT_EQ(1, sound_effects_on());
  EXPECT_EQ(1, sound_music_on());
  EXPECT_EQ(40, visible_hook.perform_visibility());
  EXPECT_EQ(7, visible_hook.perform_framerate());
  EXPECT_EQ(2, world_hook.general_rating());
  EXPECT_EQ(50, world_hook.chat_avatars());
  EXPECT_EQ(100, picture_hook.dloptions_pictures());
  EXPECT_EQ(0, universe_receiver.privacy_hide_world());
  // The page shows them so.
  ScriptedView* seen = nullptr;
  open_sheet({[&](ScriptedView& v) { seen = &v; }, press(DIALOG_CANCEL)});
  ASSERT_NE(nullptr, seen);
  EXPECT_TRUE(seen->control(PERFORM_AVATARS).checked);
  EXPECT_TRUE(seen->control(PERFORM_ANIMATION).checked);
  EXPECT_FALSE(seen->control(PERFORM_DIRECTDRAW).checked);
}

TEST_F(Sheet, PagesShownButNotChangedWriteNothingAndCancelWritesNothing) {
  ASSERT_TRUE(start(kBase));
  ScriptedDialogs::Script all;
  for (int i = 0; i < PSHEET_PAGES; ++i) all.push_back(page(i));
  EXPECT_EQ(Changes{}, apply(all));
  EXPECT_FALSE(dialogs_.opened().back()->control(PSHEET_APPLY).enabled);

  Ini before = ini();
  EXPECT_EQ(DIALOG_CANCEL,
            open_sheet({page(GENERAL), tick(GENERAL_SOUND, false), press(DIALOG_CANCEL)}));
  EXPECT_EQ(Changes{}, changes(before, ini()));
  EXPECT_EQ(1, sound_effects_on());
}

TEST_F(Sheet, PerformancePageClampsTheFrameRateAndRebuildsNothingElse) {
  ASSERT_TRUE(start(kBase));
  Changes got = apply({tick(PERFORM_AVATARS, false), type(PERFORM_FRAMERATE, "500")});
  Changes want = {{"performance.avatars", "0"},
                  {"performance.framerate", "30"},
                  {"performance.visibility", "40"},
                  {"performance.directdraw", "0"}};
  EXPECT_EQ(want, got);
  EXPECT_EQ(0, perform_avatars());
  EXPECT_EQ(30, perform_framerate());

  // What is not a number keeps the value there was; the visibility takes effect at once.
  got = apply({type(PERFORM_FRAMERATE, "fast"), type(PERFORM_VISIBILITY, "60")});
  EXPECT_EQ((Changes{{"performance.visibility", "60"}}), got);
  EXPECT_EQ(30, perform_framerate());
  EXPECT_EQ(60, visible_hook.perform_visibility());
}

TEST_F(Sheet, SwitchingAvatarAnimationAloneRebuildsTheAvatars) {
  ASSERT_TRUE(start("[debug]\nflush=1\ntrace=1\n"));
  auto resets = [] { return count_in_log("avatar_reset"); };
  int before = resets();
  // Nothing of the avatars changed: they stay as they are.
  apply({type(PERFORM_FRAMERATE, "12")});
  EXPECT_EQ(before, resets());
  Changes got = apply({tick(PERFORM_ANIMATION, false)});
  EXPECT_EQ("0", got["performance.zembrels"]);
  EXPECT_EQ(0u, got.count("performance.avatars"));
  EXPECT_EQ(0, perform_zembrels());
  EXPECT_EQ(before + 1, resets());
  // Back on: made again once more.
  apply({tick(PERFORM_ANIMATION, true)});
  EXPECT_EQ(1, perform_zembrels());
  EXPECT_EQ(before + 2, resets());
}

TEST_F(Sheet, UntickingDirectDrawCancelsTheTrialAskedForInThisRun) {
  ASSERT_TRUE(start(kBase));
  apply({tick(PERFORM_DIRECTDRAW, true)});
  EXPECT_EQ("1", ini()["performance.try_directdraw"]);
  // The sheet opened again shows the trial asked for, and unticking it takes it back.
  bool shown_checked = false;
  Changes got = apply({[&](ScriptedView& v) { shown_checked = v.control(PERFORM_DIRECTDRAW).checked; },
                       tick(PERFORM_DIRECTDRAW, false)});
  EXPECT_TRUE(shown_checked);
  EXPECT_EQ("0", got["performance.try_directdraw"]);
  ASSERT_TRUE(restart());
  EXPECT_NE(1, perform_try_directdraw());
  stop();
  EXPECT_NE("1", ini()["performance.directdraw"]);

  // Unticked during the trial run itself: its clean end confirms nothing.
  testutil::write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[performance]\ntry_directdraw=1\n");
  ASSERT_TRUE(restart());
  EXPECT_EQ(1, perform_try_directdraw());
  apply({tick(PERFORM_DIRECTDRAW, false)});
  stop();
  EXPECT_EQ("0", ini()["performance.directdraw"]);
}

TEST_F(Sheet, DiskPageClampsItsLimitsAndShowsTheTotal) {
  ASSERT_TRUE(start(kBase));
  ScriptedView* seen = nullptr;
  Changes got = apply({page(DISK), [&](ScriptedView& v) { seen = &v; }, tick(DISK_LIMIT, true),
                       type(DISK_LIMIT_MB, "5000"), tick(DISK_DELETE, true),
                       type(DISK_DELETE_DAYS, "0")});
  EXPECT_EQ((Changes{{"disk.limit", "999"}, {"disk.delete", "1"}}), got);
  ASSERT_NE(nullptr, seen);
  EXPECT_EQ(msg(64), seen->control(DISK_TOTAL).text);  // no run has counted the cache yet

  got = apply({page(DISK), tick(DISK_LIMIT, false), tick(DISK_NO_LIMIT, true)});
  EXPECT_EQ((Changes{{"disk.limit", "0"}}), got);
  EXPECT_EQ(0, disk_limit());
}

TEST_F(Sheet, ProxyPageNeedsAPortAndTellsTheHttpClient) {
  ASSERT_TRUE(start(kBase));
  Changes got = apply({page(PROXY), tick(PROXY_USE, true), type(PROXY_ADDRESS, "127.0.0.1"),
                       type(PROXY_PORT, "port")});
  EXPECT_EQ(Changes{}, got);
  EXPECT_EQ(nullptr, proxy_text());

  got = apply({page(PROXY), tick(PROXY_USE, true), type(PROXY_ADDRESS, "127.0.0.1"),
               type(PROXY_PORT, "3128")});
  EXPECT_EQ((Changes{{"proxy.address", "127.0.0.1"}, {"proxy.port", "3128"}}), got);
  EXPECT_STREQ("127.0.0.1:3128", proxy_text());

  // The page shows the proxy in use; switching it off clears the address only.
  ScriptedView* seen = nullptr;
  got = apply({page(PROXY), [&](ScriptedView& v) {
                 seen = &v;
                 EXPECT_EQ("3128", v.control(PROXY_PORT).text);
                 EXPECT_TRUE(v.control(PROXY_PORT).enabled);
               },
               tick(PROXY_USE, false)});
  EXPECT_EQ((Changes{{"proxy.address", ""}}), got);
  EXPECT_EQ(nullptr, proxy_text());
  ASSERT_NE(nullptr, seen);
  EXPECT_FALSE(seen->control(PROXY_ADDRESS).enabled);
}

TEST_F(Sheet, GeneralPageSwitchesSoundAtOnce) {
  ASSERT_TRUE(start("[performance]\navatars=1\n"));
  EXPECT_EQ(1, sound_effects_on());
  Changes got = apply({page(GENERAL), tick(GENERAL_SOUND, false), choose(GENERAL_RATING, 1)});
  EXPECT_EQ((Changes{{"general.sound", "0"}, {"general.music", "1"}, {"general.rating", "1"}}), got);
  EXPECT_EQ(0, sound_effects_on());
  EXPECT_EQ(1, sound_music_on());
  EXPECT_EQ(1, world_hook.general_rating());
}

TEST_F(Sheet, ARatingChangeAloneEnablesApplyAndIsSavedUpToTheHighest) {
  ASSERT_TRUE(start(kBase));
  bool apply_enabled = false;
  Changes got = apply({page(GENERAL), choose(GENERAL_RATING, 3),
                       [&](ScriptedView& v) { apply_enabled = v.control(PSHEET_APPLY).enabled; }});
  EXPECT_TRUE(apply_enabled);
  EXPECT_EQ((Changes{{"general.sound", "1"}, {"general.music", "1"}, {"general.rating", "3"}}), got);
  EXPECT_EQ(3, general_rating());
  EXPECT_EQ(3, world_hook.general_rating());
  ASSERT_TRUE(restart());
  EXPECT_EQ(3, general_rating());
  int shown = -1;
  open_sheet({page(GENERAL), [&](ScriptedView& v) { shown = v.control(GENERAL_RATING).selection; },
              press(DIALOG_CANCEL)});
  EXPECT_EQ(3, shown);

  got = apply({page(GENERAL), choose(GENERAL_RATING, 0)});
  EXPECT_EQ("0", got["general.rating"]);
  EXPECT_EQ(0, general_rating());
}

TEST_F(Sheet, DownloadOptionsPageKeepsLimitsInsideTheirRange) {
  ASSERT_TRUE(start("[downloads]\npictures=0\n"));
  ScriptedView* seen = nullptr;
  Changes got = apply({page(DLOPT), [&](ScriptedView& v) {
                         seen = &v;
                         EXPECT_FALSE(v.control(DLOPTIONS_PICTURES_KB).enabled);
                       },
                       tick(DLOPTIONS_PICTURES_NONE, false), tick(DLOPTIONS_PICTURES_LIMIT, true),
                       type(DLOPTIONS_PICTURES_KB, "5"), tick(DLOPTIONS_AUDIO_LIMIT, false),
                       tick(DLOPTIONS_AUDIO_NONE, true)});
  EXPECT_EQ((Changes{{"downloads.pictures", "10"}, {"downloads.audio", "0"}}), got);
  EXPECT_EQ(0, dloptions_audio());
  ASSERT_NE(nullptr, seen);
  EXPECT_TRUE(seen->control(DLOPTIONS_PICTURES_KB).enabled);
  EXPECT_EQ(10, picture_hook.dloptions_pictures());
}

TEST_F(Sheet, PrivacyPageLogsInAgainOnlyWhenHideWorldChanges) {
  ASSERT_TRUE(start("[debug]\nflush=1\ntrace=1\n"));
  auto relogins = [&] {
    std::string log = testutil::read_file("tessel.log");
    int n = 0;
    for (size_t at = log.find("universe_relogin"); at != std::string::npos;
         at = log.find("universe_relogin", at + 1))
      ++n;
    return n;
  };
  int before = relogins();
  Changes got = apply({page(PRIVACY), tick(PRIVACY_JOIN_ASK, false), tick(PRIVACY_JOIN_REFUSE, true)});
  EXPECT_EQ((Changes{{"privacy.join", "2"}, {"privacy.verify", "0"}, {"privacy.hide_world", "0"}}), got);
  EXPECT_FALSE(dialogs_.opened().back()->control(PRIVACY_VERIFY).enabled);
  EXPECT_EQ(before, relogins());

  got = apply({page(PRIVACY), tick(PRIVACY_HIDE_WORLD, true)});
  EXPECT_EQ((Changes{{"privacy.hide_world", "1"}}), got);
  EXPECT_EQ(before + 1, relogins());
  EXPECT_EQ(1, universe_receiver.privacy_hide_world());
}

TEST_F(Sheet, ChatPageClampsItsCounts) {
  ASSERT_TRUE(start("[chat]\navatars=60\nnear=51\n"));
  EXPECT_EQ(50, chat_avatars());
  EXPECT_EQ(12, chat_near());
  Changes got = apply({page(CHAT), type(CHAT_NEAR, "99"), tick(CHAT_LOGGING, true)});
  EXPECT_EQ((Changes{{"chat.avatars", "50"}, {"chat.near", "50"}, {"chat.balloons", "1"},
                     {"chat.logging", "1"}}),
            got);
}

TEST_F(Sheet, ChatPageBrowsesForTheLogAndApplyReopensIt) {
  ASSERT_TRUE(start(kBase));
  std::string chosen = dir_.file("talk.log");
  ScriptedView* seen = nullptr;
  Changes got = apply({page(CHAT),
                       [&](ScriptedView& v) {
                         seen = &v;
                         // Browse goes with logging.
                         EXPECT_FALSE(v.control(CHAT_BROWSE).enabled);
                         EXPECT_TRUE(v.control(CHAT_BROWSE).shown);
                       },
                       tick(CHAT_LOGGING, true),
                       [&](ScriptedView& v) { v.answer_save_file(chosen); }, press(CHAT_BROWSE)});
  ASSERT_NE(nullptr, seen);
  ASSERT_EQ(1u, seen->file_requests().size());
  const auto& asked = seen->file_requests()[0];
  EXPECT_EQ(msg(258), asked.title);
  EXPECT_EQ("Text File", asked.filter);
  EXPECT_EQ("*.*", asked.pattern);
  EXPECT_EQ("chat.txt", asked.start);
  EXPECT_EQ(chosen, seen->control(CHAT_LOGFILE).text);
  EXPECT_EQ("1", got["chat.logging"]);
  EXPECT_EQ(chosen, got["chat.logfile"]);
  // Logging runs from the apply on, into the chosen file, without a new start.
  chat_log_write("after the apply");
  std::string log = testutil::read_file(chosen);
  EXPECT_NE(std::string::npos, log.find(msg_arg(259, msg(163))));
  EXPECT_NE(std::string::npos, log.find("after the apply\n"));

  // A browse given up changes nothing; logging switched off stops at once.
  got = apply({page(CHAT), press(CHAT_BROWSE), tick(CHAT_LOGGING, false)});
  EXPECT_EQ((Changes{{"chat.logging", "0"}}), got);
  chat_log_write("after logging stopped");
  EXPECT_EQ(std::string::npos, testutil::read_file(chosen).find("after logging stopped"));
}

TEST_F(Sheet, AdvancedPageRefusesAPathThatIsNoFolder) {
  ASSERT_TRUE(start(kBase));
  std::string missing = dir_.file("no-such-folder");
  std::string file = dir_.file("tessel.ini");
  for (const std::string& bad : {missing, file}) {
    Changes got = apply({page(ADVANCED), type(ADVANCED_PATH, bad)});
    EXPECT_EQ(Changes{}, got) << bad;
    EXPECT_EQ(1, boxes_with(240, bad.c_str())) << bad;
  }
  std::string mirror = dir_.file("mirror");
  ASSERT_EQ(0, mkdir(mirror.c_str(), 0755));
  Changes got = apply({page(ADVANCED), type(ADVANCED_PATH, mirror)});
  EXPECT_EQ((Changes{{"advanced.local_path", mirror}, {"advanced.cd", "0"}}), got);
  EXPECT_STREQ(mirror.c_str(), advanced_local_path());

  // A path longer than the settings' usual texts comes back whole.
  std::string deep = dir_.file(std::string(150, 'd'));
  ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
  got = apply({page(ADVANCED), type(ADVANCED_PATH, deep)});
  EXPECT_EQ(deep, got["advanced.local_path"]);
  ASSERT_TRUE(restart());
  ASSERT_NE(nullptr, advanced_local_path());
  EXPECT_EQ(deep, advanced_local_path());
  got = apply({page(ADVANCED), type(ADVANCED_PATH, mirror)});

  // A folder that went away is cleared at the next start.
  ASSERT_EQ(0, rmdir(mirror.c_str()));
  ASSERT_TRUE(restart());
  EXPECT_EQ(nullptr, advanced_local_path());
}

TEST_F(Sheet, NewMessageSetRelabelsTheMenuAndTheOpenSheet) {
  testutil::write_file(dir_.file("Messages/other.tzm"), "22 Andere\n470 &Xandere\n375 Leistung\n");
  ASSERT_TRUE(start(kBase));
  EXPECT_STREQ(msg(470), menu_title_text(3));
  std::string title_after, tab_after;
  open_sheet({page(ADVANCED),
              [](ScriptedView& v) {
                const auto& sets = v.control(ADVANCED_MESSAGES).items;
                ASSERT_EQ((std::vector<std::string>{"default", "other"}), sets);
                EXPECT_EQ(0, v.control(ADVANCED_MESSAGES).selection);
              },
              choose(ADVANCED_MESSAGES, 1), press(PSHEET_APPLY),
              [&](ScriptedView& v) {
                title_after = v.title();
                tab_after = v.control(PSHEET_TABS).items.at(0);
              },
              press(DIALOG_CANCEL)});
  EXPECT_EQ("Andere", title_after);
  EXPECT_EQ("Leistung", tab_after);
  EXPECT_STREQ("&Xandere", menu_title_text(3));
  EXPECT_EQ("other", ini()["general.messages"]);
}

TEST_F(Sheet, DirectDrawIsTriedOnceAcrossTwoRuns) {
  ASSERT_TRUE(start(kBase));
  EXPECT_EQ(DIALOG_CANCEL,
            open_sheet({tick(PERFORM_DIRECTDRAW, true), press(PSHEET_APPLY), press(DIALOG_CANCEL)}));
  EXPECT_EQ(1, boxes_with(207, msg(68)));
  EXPECT_EQ("1", ini()["performance.try_directdraw"]);
  // This run goes on without it, and its end confirms nothing.
  EXPECT_NE(1, perform_try_directdraw());
  stop();
  EXPECT_EQ(0u, ini().count("performance.directdraw"));

  // The trial run: the switch is cleared in the file at once, kept in memory for the driver.
  ASSERT_TRUE(restart());
  EXPECT_EQ("0", ini()["performance.try_directdraw"]);
  EXPECT_EQ(1, perform_try_directdraw());
  ASSERT_NE(nullptr, driver_hook.perform_try_directdraw);
  EXPECT_EQ(1, driver_hook.perform_try_directdraw());
  stop();
  EXPECT_EQ("1", ini()["performance.directdraw"]);

  // From then on it is on, and the page shows it.
  ASSERT_TRUE(restart());
  EXPECT_EQ(1, perform_directdraw());
  bool shown_checked = false;
  open_sheet({[&](ScriptedView& v) { shown_checked = v.control(PERFORM_DIRECTDRAW).checked; },
              press(DIALOG_CANCEL)});
  EXPECT_TRUE(shown_checked);
}

TEST_F(Sheet, ATrialWhoseDeviceFellBackIsNotConfirmed) {
  ASSERT_TRUE(start("[performance]\ntry_directdraw=1\n"));
  EXPECT_EQ(1, perform_try_directdraw());
  // What the driver loader does when the device answers that it fell back.
  ASSERT_NE(nullptr, driver_hook.perform_clear_directdraw);
  driver_hook.perform_clear_directdraw();
  EXPECT_EQ(0, perform_try_directdraw());
  stop();
  EXPECT_EQ(0u, ini().count("performance.directdraw"));
}

TEST_F(Sheet, TooLittleMemoryStopsTheStart) {
  perform_set_memory_for_test(0xF00000 - 1);
  testutil::write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n");
  EXPECT_EQ(0, tessel_init(0, "", 1));
  perform_set_memory_for_test(0);
  EXPECT_EQ(1, boxes_with(100, msg(68)));
}

// A switch stored as some other number than 0 or 1 reads as its row says: the switches that
// are on unless switched off are on at any value but 0, the others keep their default.
TEST_F(Sheet, SwitchesHoldingOtherNumbersReadAsTheirRowsSay) {
  ASSERT_TRUE(start("[general]\nsound=-3\nmusic=2\n[performance]\nurls=-2\navatars=-4\npanning=2\n"
                    "[show]\ntoolbar=-2\nposition=-7\ncache=3\nweb=-5\nchat=-2\n[chat]\nballoons=-3\n"
                    "logging=2\n"));
  EXPECT_EQ(1, general_sound());
  EXPECT_EQ(1, general_music());
  EXPECT_EQ(1, sound_effects_on());
  EXPECT_EQ(1, sound_music_on());
  EXPECT_EQ(1, perform_urls());
  EXPECT_EQ(100, dloptions_pictures());  // URL downloads on: the limits' own defaults
  EXPECT_EQ(150, dloptions_audio());
  EXPECT_TRUE(tessel_toolbar_shown());
  for (const char* key : {"toolbar", "position", "cache", "web"}) EXPECT_EQ(1, show_setting(key)) << key;
  EXPECT_EQ(0, show_setting("chat"));
  EXPECT_EQ(1, perform_avatars());
  EXPECT_EQ(0, perform_panning());
  EXPECT_EQ(1, chat_balloons());
  EXPECT_EQ(0, chat_logging());
}

// The mirror folder's path may be 255 bytes long; one byte more is refused, not cut to a
// folder the user did not name.
class MirrorPath : public Sheet {
 protected:
  // Two folders side by side, their paths 255 and 256 bytes long.
  void make_folders() {
    std::string parent = dir_.file("m");
    ASSERT_EQ(0, mkdir(parent.c_str(), 0755));
    ASSERT_LT(parent.size() + 1, 255u);
    longest_ = parent + "/" + std::string(255 - parent.size() - 1, 'd');
    over_ = longest_ + "d";
    ASSERT_EQ(0, mkdir(longest_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(over_.c_str(), 0755));
  }
  // The path the program keeps after a start over this stored one ("" for none).
  std::string kept_after_start(const std::string& stored) {
    testutil::write_file(dir_.file("tessel.ini"), "[display]\ndepth=1\n[advanced]\nlocal_path=" + stored + "\n");
    if (!restart()) return "<no start>";
    const char* kept = advanced_local_path();
    return kept ? kept : "";
  }
  std::string longest_, over_;
};

TEST_F(MirrorPath, Of255BytesIsKeptAndOneByteMoreRefused) {
  ASSERT_TRUE(start(kBase));
  ASSERT_NO_FATAL_FAILURE(make_folders());
  EXPECT_TRUE(advanced_store(longest_, 0));
  EXPECT_EQ(longest_, ini()["advanced.local_path"]);
  EXPECT_FALSE(advanced_store(over_, 0));
  EXPECT_EQ(longest_, ini()["advanced.local_path"]);
  ASSERT_NE(nullptr, advanced_local_path());
  EXPECT_EQ(longest_, advanced_local_path());
  EXPECT_EQ(longest_, kept_after_start(longest_));
}

// A stored path one byte too long is refused, even where a folder of its first 255 bytes exists.
TEST_F(MirrorPath, StoredOneByteTooLongIsRefusedAtStart) {
  ASSERT_TRUE(start(kBase));
  ASSERT_NO_FATAL_FAILURE(make_folders());
  EXPECT_EQ("", kept_after_start(over_));
}

}  // namespace
}  // namespace settingstest
