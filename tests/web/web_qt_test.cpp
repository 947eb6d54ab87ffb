// The help tree and the web pane as the program shows them, offscreen: the shipped topics
// listed and opened, a page of a local object server shown, its teleport link taken over,
// and an object's address opened in the pane.
#include <QApplication>
#include <QImage>
#include <clocale>
#include <filesystem>

#include "client/core/log.h"
#include "client/shell/console.h"
#include "client/ui/help_tree.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_windows.h"
#include "client/ui/screenshot.h"
#include "client/ui/web_pane.h"
#include "tests/transfer/transfer_util.h"
#include "tests/web/web_fixture.h"
#include "tests/support/qt_app.h"

#if TESSEL_WEBENGINE
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWebEngineScript>
#include <QWebEngineView>
#endif

using namespace webtest;

namespace {

QApplication* app() { return &testutil::qt_app("web_qt_tests", web_pane_prepare); }

std::string shots_dir() {
  std::string d = std::string(TESSEL_BINARY_DIR) + "/tests/web";
  std::filesystem::create_directories(d);
  return d;
}

// Runs Qt's events (and the frame's behaviour task) until done or the wait's cap.
bool wait_for(const std::function<bool()>& done) {
  return testutil::poll_until(
      [&] {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        behavior_update();
        return done();
      },
      testutil::kWaitMs);
}

// A point of the pane in the main window (the pane's window is shown inside it).
QPoint in_main(const QWidget* main, const QWidget* pane, QPoint p) {
  return main->mapFromGlobal(pane->mapToGlobal(p));
}

// The colour of the pane's middle in a grab of the main window.
QRgb middle_of(const QImage& image, const QWidget* main, const QWidget* pane) {
  QPoint c = in_main(main, pane, pane->rect().center());
  return image.pixel(c) & 0xFFFFFF;
}

// The page is drawn: its background fills the pane's middle and its text stands on it.
bool page_drawn(const QImage& image, const QWidget* main, const QWidget* pane, QRgb background) {
  if (image.isNull() || middle_of(image, main, pane) != background) return false;
  QRect r(in_main(main, pane, QPoint(0, 0)), pane->size());
  int text = 0;
  for (int y = r.top(); y < r.top() + 80 && y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != background) ++text;
  return text > 200;
}

class WebQt : public WebFixture {
 protected:
  void SetUp() override {
    app();
    WebFixture::SetUp();
    qt = std::make_unique<QtHost>();
    host_set(qt.get());
    ASSERT_TRUE(qt->window_create("tessel", HostRect{0, 0, 800, 500}, 200, 150, handle_window));
    qt->main_widget()->show();
    web_set_container_maker(nullptr);  // the program's own pane, or none in this build
    web_pane_qt_install(*qt);
    help_tree_qt_install(*qt);
  }
  void TearDown() override {
    web_reset_for_test();
    if (qt) {
      static_cast<QtMainWindow*>(qt->main_widget())->destroying = true;
      qt->window_destroy();
    }
    host_set(&boxes);
    qt.reset();
    WebFixture::TearDown();
  }
  QtHelpTree* help_tree() { return qt->main_widget()->findChild<QtHelpTree*>(); }
  QWidget* pane() { return web_pane_widget(); }
  bool loaded(const std::string& tail) {
    std::string u = web_current_url();
    return !web_is_busy() && u.size() >= tail.size() && u.compare(u.size() - tail.size(), tail.size(), tail) == 0;
  }

  // The page's own background shows in the pane once it is painted; the window's picture
  // is kept as `shot_name`.
  void expect_page_shown(QRgb background, const char* shot_name) {
    QImage shot;
    wait_for([&] {
      shot = screenshot_grab(*qt);
      return page_drawn(shot, qt->main_widget(), pane(), background);
    });
    EXPECT_TRUE(page_drawn(shot, qt->main_widget(), pane(), background));
    shot.save(QString::fromStdString(shots_dir() + "/" + shot_name));
  }

  // A web server on loopback serves `root`, writing a line for every request into
  // requests(); the program starts with it as its web host and its pane sized. `base` gets
  // the server's address as a URL.
  void start_served(const std::string& root, std::string* base) {
    requests_file = root + "/../requests.log";
    std::string cmd = "exec python3 -u -m http.server 0 --bind 127.0.0.1 --directory '" + root + "' 2>>'" +
                      requests_file + "'";
    server = std::make_unique<transfer_test::ServerProcess>(std::vector<std::string>{"sh", "-c", cmd});
    ASSERT_GT(server->port(), 0);
    *base = "http://" + server->base();
    ASSERT_NO_FATAL_FAILURE(start("[web]\nhost=" + server->base() + "\n"));
    ASSERT_NE(nullptr, pane());
    web_size(201, 0, 599, 460);
#if TESSEL_WEBENGINE
    QObject::connect(view(), &QWebEngineView::loadFinished, view(), [this](bool) { ++load_ends; });
#endif
  }

  std::string requests() { return testutil::read_file(requests_file); }

#if TESSEL_WEBENGINE
  QWebEngineView* view() { return qobject_cast<QWebEngineView*>(pane()); }
  // A script's answer in the shown page (an isolated world: the page cannot stand in for it).
  QVariant ask(const QString& script) {
    QVariant answer;
    bool answered = false;
    view()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
      answer = v;
      answered = true;
    });
    wait_for([&] { return answered; });
    return answer;
  }
  // Moves the pointer over the middle of the page's element of that id until the page has seen
  // it there (a page still being drawn takes no input yet); the point, and the element's
  // address when it is a link, into `at` and `href`.
  void point_at(const char* id, QPointF* at, std::string* href) {
    QVariantList got = ask(QString("(function(){var e=document.getElementById('%1'); e.removeAttribute('data-pointed');"
                                   "e.addEventListener('mousemove', function(){ e.setAttribute('data-pointed', '1'); });"
                                   "var r=e.getBoundingClientRect(); return [r.left+r.width/2, r.top+r.height/2, e.href || ''];})()")
                               .arg(id))
                           .toList();
    ASSERT_EQ(3, got.size()) << id;
    QWidget* target = view()->focusProxy();
    ASSERT_NE(nullptr, target);
    *at = QPointF(got[0].toDouble(), got[1].toDouble());
    *href = got[2].toString().isEmpty() ? std::string() : QUrl(got[2].toString()).toEncoded().toStdString();
    const QString pointed = QString("document.getElementById('%1').getAttribute('data-pointed') == '1'").arg(id);
    int nudge = 0;
    ASSERT_TRUE(testutil::poll_until([&] {
      QPointF over = *at + QPointF(nudge++ % 2, 0);
      QMouseEvent move(QEvent::MouseMove, over, target->mapToGlobal(over), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(target, &move);
      QApplication::processEvents(QEventLoop::AllEvents, 20);
      return ask(pointed).toBool();
    })) << id << " never saw the pointer";
  }
  // A person's click on the middle of the page's element of that id: the pointer comes over
  // it and, over a link, the page says which link is under it; then the left button goes down
  // and up.
  void click(const char* id, bool on_link = true) {
    QPointF p;
    std::string href;
    ASSERT_NO_FATAL_FAILURE(point_at(id, &p, &href));
    if (on_link) {
      ASSERT_TRUE(wait_for([&] { return web_pane_hovered_link() == href; }))
          << id << ": " << href << " hovered " << web_pane_hovered_link();
    }
    QWidget* target = view()->focusProxy();
    QPointF global = target->mapToGlobal(p);
    QMouseEvent press(QEvent::MouseButtonPress, p, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, p, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
  }
#endif

  // The program's clock stands still unless a test steps it: the person's click counts for
  // its moment however long a loaded machine takes to deliver it.
  testutil::FakeClock clock;
  std::unique_ptr<QtHost> qt;
  std::unique_ptr<transfer_test::ServerProcess> server;
  std::string requests_file;
  int load_ends = 0;  // the pane's loads that reported their end
};

TEST_F(WebQt, TheShippedHelpTopicsAreListedAndOpenInThePane) {
  std::filesystem::copy(std::string(TESSEL_SOURCE_DIR) + "/data/help", dir + "/help");
  ASSERT_NO_FATAL_FAILURE(start());
  QtHelpTree* t = help_tree();
  ASSERT_NE(nullptr, t);
  ASSERT_GE(t->topLevelItemCount(), 2);
  // Every page of the tree names a page that ships with it.
  int pages = 0;
  QTreeWidgetItem* welcome = nullptr;
  std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
    intptr_t h = t->handle_of(item);
    std::string link = help_item_link(h);
    if (item->childCount() == 0) {
      ++pages;
      EXPECT_EQ(HELP_IMAGE_PAGE, t->image_of(h));
      EXPECT_TRUE(std::filesystem::exists(dir + "/help/" + link)) << link;
      if (link == "welcome.html") welcome = item;
    } else {
      EXPECT_EQ("", link);
    }
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i));
  };
  for (int i = 0; i < t->topLevelItemCount(); ++i) walk(t->topLevelItem(i));
  EXPECT_GE(pages, 5);
  ASSERT_NE(nullptr, welcome);
  EXPECT_TRUE(menu_is_enabled(148));
  EXPECT_TRUE(menu_is_enabled(142));

  menu_handle(105);
  t->setGeometry(0, 0, 300, 460);
  EXPECT_TRUE(t->isVisible());
  QTreeWidgetItem* folder = welcome->parent();
  t->expandItem(folder);
  EXPECT_EQ(HELP_IMAGE_OPEN, t->image_of(t->handle_of(folder)));
  t->collapseItem(folder);
  EXPECT_EQ(HELP_IMAGE_FOLDER, t->image_of(t->handle_of(folder)));
  t->expandItem(folder);
  // A folder chosen keeps the keys in the tree for moving on; a page opened gives them back
  // to the main window, where the arrows walk.
  qt->main_widget()->activateWindow();
  ASSERT_TRUE(wait_for([&] { return QApplication::activeWindow() == qt->main_widget(); }));
  t->setFocus(Qt::TabFocusReason);
  // Another folder than the current one, so that it is chosen.
  QTreeWidgetItem* other = nullptr;
  for (int i = 0; i < t->topLevelItemCount() && !other; ++i)
    if (t->topLevelItem(i) != t->currentItem() && t->topLevelItem(i)->childCount() > 0) other = t->topLevelItem(i);
  ASSERT_NE(nullptr, other);
  t->setCurrentItem(other);
  QApplication::processEvents();
  ASSERT_EQ(other, t->currentItem());
  EXPECT_EQ(t, QApplication::focusWidget());
  // Without a pane the refusal's box is answered by the scripted host.
  if (!web_pane_available()) host_set(&boxes);
  t->setCurrentItem(welcome);
  EXPECT_EQ(qt->main_widget(), QApplication::focusWidget());
  if (!web_pane_available()) {
    EXPECT_EQ(0, web_visible());
    EXPECT_EQ(nullptr, pane());
    ASSERT_EQ(1u, boxes.boxes().size());
    EXPECT_STREQ(msg(239), boxes.boxes()[0].text.c_str());
    EXPECT_TRUE(opened_runs(0).empty());
    return;
  }
  ASSERT_NE(nullptr, pane());
  web_size(301, 0, 499, 460);
  ASSERT_TRUE(wait_for([&] { return loaded("/help/welcome.html"); })) << web_current_url();
  EXPECT_TRUE(pane()->isVisible());
  expect_page_shown(0xF4F1E8, "help.png");
}

#if TESSEL_WEBENGINE
TEST_F(WebQt, AnObjectServerPageIsShownAndItsTeleportLinkTeleports) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/demo/web");
  for (const char* page : {"home.html", "page2.html"})
    std::filesystem::copy(std::string(TESSEL_SOURCE_DIR) + "/demo/world/" + page, www.path() + "/demo/web/" + page);
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path(), &base));
  ASSERT_NO_FATAL_FAILURE(be_in("home"));

  ASSERT_EQ(1, web_navigate((base + "/demo/web/home.html").c_str(), 0));
  ASSERT_TRUE(wait_for([&] { return loaded("/demo/web/home.html"); })) << web_current_url();
  expect_page_shown(0xE8EEF4, "object_page.png");

  // The person clicks the link in the page: the teleport runs and the page stays.
  auto* view = this->view();
  ASSERT_NE(nullptr, view);
  int ended = load_ends;
  ASSERT_NO_FATAL_FAILURE(click("teleport"));
  ASSERT_TRUE(wait_for([] { return teleport_waiting_name() != nullptr; }));
  // The cancelled navigation reports its end: it must not end the next page's load early.
  ASSERT_TRUE(wait_for([&] { return load_ends > ended; }));
  EXPECT_STREQ("demo", teleport_waiting_name());
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(-20.0f, x);
  EXPECT_FLOAT_EQ(10.0f, z);
  EXPECT_TRUE(loaded("/demo/web/home.html"));
  EXPECT_TRUE(view->url().toString().endsWith("/demo/web/home.html"));

  // An object whose action is an address opens it here, and Back returns.
  ASSERT_EQ(1, web_open_action((base + "/demo/web/page2.html").c_str()));
  ASSERT_TRUE(wait_for([&] { return loaded("/demo/web/page2.html"); })) << web_current_url();
  EXPECT_EQ(1, menu_handle(134));
  ASSERT_TRUE(wait_for([&] { return loaded("/demo/web/home.html"); })) << web_current_url();
  EXPECT_TRUE(opened_runs(0).empty());
}

// A page of another origin tries to teleport the person through a hidden frame, its script's
// address change and a script's click on its link: nothing moves them.
TEST_F(WebQt, APagesFramesAndScriptsTeleportNoOne) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/w");
  testutil::write_file(www.path() + "/w/trap.html",
                       "<html><body><a id='link' href='/cgi-bin/teleport?demo_10n_20e'>go</a>"
                       "<iframe style='display:none' src='/cgi-bin/teleport?demo_77n_66e'></iframe>"
                       "<script>setTimeout(function(){ document.getElementById('link').click();"
                       " location = '/cgi-bin/teleport?demo_33s_44w';"
                       " setTimeout(function(){ location = 'after.html'; }, 200); }, 100);</script></body></html>");
  testutil::write_file(www.path() + "/w/after.html", "<html><body>after</body></html>");
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path(), &base));
  ASSERT_NO_FATAL_FAILURE(be_in("home"));
  ASSERT_EQ(1, web_navigate((base + "/w/trap.html").c_str(), 0));
  // The script's last step lands on the next page once its attempts are behind it.
  ASSERT_TRUE(wait_for([&] { return loaded("/w/after.html"); })) << web_current_url();
  behavior_update();
  EXPECT_EQ(nullptr, teleport_waiting_name());
  EXPECT_EQ(std::string::npos, requests().find("/cgi-bin/")) << requests();
}

// A script that waits for the person's click anywhere tries to send them elsewhere: nothing
// moves them. Their own click on the page's link does.
TEST_F(WebQt, APageTeleportsThePersonOnlyWhenTheyClickItsLink) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/w");
  testutil::write_file(www.path() + "/w/after.html",
                       "<html><body><p id='text' style='height:40px'>words</p>"
                       "<a id='link' style='display:block;height:40px' href='/cgi-bin/teleport?demo_5n_6w'>go</a>"
                       "<script>document.getElementById('text').onclick = function(){"
                       " location = '/cgi-bin/teleport?demo_9s_9w';"
                       " setTimeout(function(){ location = 'last.html'; }, 200); };</script></body></html>");
  testutil::write_file(www.path() + "/w/last.html",
                       "<html><body><a id='link' style='display:block;height:40px' "
                       "href='/cgi-bin/teleport?demo_5n_6w'>go</a></body></html>");
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path(), &base));
  ASSERT_NO_FATAL_FAILURE(be_in("home"));
  ASSERT_EQ(1, web_navigate((base + "/w/after.html").c_str(), 0));
  ASSERT_TRUE(wait_for([&] { return loaded("/w/after.html"); })) << web_current_url();

  ASSERT_NO_FATAL_FAILURE(click("text", false));
  ASSERT_TRUE(wait_for([&] { return loaded("/w/last.html"); })) << web_current_url();
  behavior_update();
  EXPECT_EQ(nullptr, teleport_waiting_name());
  EXPECT_EQ(std::string::npos, requests().find("/cgi-bin/")) << requests();

  ASSERT_NO_FATAL_FAILURE(click("link"));
  ASSERT_TRUE(wait_for([] { return teleport_waiting_name() != nullptr; }));
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(6.0f, x);
  EXPECT_FLOAT_EQ(5.0f, z);
  EXPECT_TRUE(loaded("/w/last.html"));
}

// Return on a focused teleport link teleports the person. Return pressed in the page's text
// field, and the page's script going to a teleport address a few seconds after, does not: the
// person's key counts only for its moment, on the program's clock.
TEST_F(WebQt, APressedKeyCountsAsThePersonsOnlyForItsMoment) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/w");
  testutil::write_file(www.path() + "/w/keys.html",
                       "<html><body><a id='link' href='/cgi-bin/teleport?demo_5n_6w'>go</a>"
                       "<input id='field'></body></html>");
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path(), &base));
  ASSERT_NO_FATAL_FAILURE(be_in("home"));
  ASSERT_EQ(1, web_navigate((base + "/w/keys.html").c_str(), 0));
  ASSERT_TRUE(wait_for([&] { return loaded("/w/keys.html"); })) << web_current_url();
  // Return pressed with the element of that id focused, once the page takes input.
  auto press_return = [&](const char* id) {
    QPointF at;
    std::string href;
    ASSERT_NO_FATAL_FAILURE(point_at(id, &at, &href));
    ASSERT_TRUE(ask(QString("document.getElementById('%1').focus(); document.activeElement.id == '%1'").arg(id))
                    .toBool())
        << id;
    QWidget* target = view()->focusProxy();
    ASSERT_NE(nullptr, target);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(target, &up);
  };

  ASSERT_NO_FATAL_FAILURE(press_return("link"));
  ASSERT_TRUE(wait_for([] { return teleport_waiting_name() != nullptr; }));
  float x, y, z, yaw;
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(6.0f, x);
  EXPECT_FLOAT_EQ(5.0f, z);

  ASSERT_NO_FATAL_FAILURE(press_return("field"));
  clock.advance(4000);
  int ended = load_ends;
  view()->page()->runJavaScript("location = '/cgi-bin/teleport?demo_9s_9w';");
  // The refused navigation reports its end.
  ASSERT_TRUE(wait_for([&] { return load_ends > ended; }));
  behavior_update();
  teleport_target(&x, &y, &z, &yaw);
  EXPECT_FLOAT_EQ(6.0f, x);
  EXPECT_FLOAT_EQ(5.0f, z);
  EXPECT_TRUE(loaded("/w/keys.html")) << web_current_url();
}

// An object reads a local file into the pane and a second one's script sends the page's
// text away; the world's home page and data and bare-path addresses try the same. No file is
// read: the page server, which records every request, never hears of the file's text.
TEST_F(WebQt, ALocalFilesTextNeverLeavesThroughThePane) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/w");
  testutil::write_file(www.path() + "/w/end.html", "<html><body>end</body></html>");
  const std::string secret = www.path() + "/secret.txt";
  testutil::write_file(secret, "tessel-secret-7731\n");
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path() + "/w", &base));
  const std::string leak = "location='" + base + "/leak?'+encodeURIComponent(document.body.innerText)";
  console_init(nullptr);
  for (const std::string& url : {"file://" + secret, secret}) {
    world_hook.web_navigate(url.c_str(), 1);  // the world's home page
    behavior_post(("url " + url).c_str());    // an object's url command
    behavior_update();
    // Were the file shown, the script would run in it.
    wait_for([&] { return loaded("secret.txt") || std::string(console_text()).find(secret) != std::string::npos; });
    behavior_post(("url \"javascript:void(" + leak + ")\"").c_str());
    behavior_update();
    behavior_post(("url \"data:text/html,<script>" + leak + "</script>\"").c_str());
    behavior_update();
  }
  // Every attempt is behind the page that follows them.
  ASSERT_EQ(1, web_navigate((base + "/end.html").c_str(), 0));
  ASSERT_TRUE(wait_for([&] { return loaded("/end.html"); })) << web_current_url();
  std::string heard = requests();
  EXPECT_NE(std::string::npos, heard.find("/end.html")) << heard;
  EXPECT_EQ(std::string::npos, heard.find("/leak")) << heard;
  EXPECT_EQ(std::string::npos, heard.find("7731")) << heard;
  EXPECT_NE(std::string::npos, std::string(console_text()).find("javascript:")) << console_text();
  console_reset_for_test();
}

// A frame inside the page loads another page: the pane stays on its page and is not left busy
// (Stop enabled, the logo turning) by a load that never reports its end.
TEST_F(WebQt, AFrameLoadingInsideThePageLeavesThePaneIdleOnItsPage) {
  testutil::TempDir www("tessel_web_");
  std::filesystem::create_directories(www.path() + "/w");
  testutil::write_file(www.path() + "/w/framed.html",
                       "<html><body><p>Outer</p><iframe id='f' src='a.html'></iframe></body></html>");
  testutil::write_file(www.path() + "/w/a.html", "<html><head><title>A</title></head><body>a</body></html>");
  testutil::write_file(www.path() + "/w/b.html", "<html><head><title>B</title></head><body>b</body></html>");
  std::string base;
  ASSERT_NO_FATAL_FAILURE(start_served(www.path(), &base));
  auto* view = qobject_cast<QWebEngineView*>(pane());
  ASSERT_NE(nullptr, view);
  auto frame_title = [&] {
    QString title;
    bool answered = false;
    view->page()->runJavaScript("document.getElementById('f').contentDocument.title", [&](const QVariant& v) {
      title = v.toString();
      answered = true;
    });
    wait_for([&] { return answered; });
    return title.toStdString();
  };

  ASSERT_EQ(1, web_navigate((base + "/w/framed.html").c_str(), 0));
  ASSERT_TRUE(wait_for([&] { return !web_is_busy() && frame_title() == "A"; })) << web_current_url();
  EXPECT_TRUE(loaded("/w/framed.html")) << web_current_url();
  view->page()->runJavaScript("document.getElementById('f').src = 'b.html';");
  ASSERT_TRUE(wait_for([&] { return frame_title() == "B"; }));
  EXPECT_FALSE(web_is_busy());
  EXPECT_TRUE(loaded("/w/framed.html")) << web_current_url();
}

// What a page's scripts write on their console goes to the trace log, never through Qt's
// messages (whose warnings and errors reach the terminal).
TEST_F(WebQt, APagesConsoleGoesToTheTraceLogAlone) {
  static std::vector<std::string> messages;
  messages.clear();
  QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { messages.push_back(text.toStdString()); });
  trace_switches[TRACE_GENERAL] = 1;
  write_help("talk.html", "<html><body><script>console.warn('page-warns-4411'); console.error('page-errs-4411');"
                          "</script></body></html>");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NE(nullptr, pane());
  ASSERT_EQ(1, web_navigate_help(("file://" + dir + "/help/talk.html").c_str()));
  bool logged = wait_for([&] {
    std::string log = testutil::read_file(dir + "/tessel.log");
    return log.find("page-warns-4411") != std::string::npos && log.find("page-errs-4411") != std::string::npos;
  });
  trace_switches[TRACE_GENERAL] = 0;
  qInstallMessageHandler(previous);
  EXPECT_TRUE(logged) << testutil::read_file(dir + "/tessel.log");
  for (const std::string& m : messages) EXPECT_EQ(std::string::npos, m.find("4411")) << m;
}

// A help page's link to another help page opens it; its link to a file beside help/ does
// not, and a help page's script reads no such file (fetch, a request, a frame).
TEST_F(WebQt, HelpPagesOpenEachOtherAndReadNoOtherFile) {
  const std::string secret = "file://" + dir + "/secret.txt";
  testutil::write_file(dir + "/secret.txt", "tessel-secret-7731\n");
  write_help("a.html", "<html><body><a id='out' style='display:block;height:40px' href='../secret.txt'>out</a>"
                       "<a id='next' style='display:block;height:40px' href='b.html'>next</a></body></html>");
  // The page tries each way in and writes down what it got. A frame refused loads nothing and
  // says nothing: what it holds is read once a second frame, asked for after it, has loaded.
  write_help("c.html", "<html><body>c</body></html>");
  write_help("b.html", "<html><head><title>B</title></head><body><pre id='got'></pre><script>"
                       "var secret = '" + secret + "', left = 3;"
                       "function got(t) { var g = document.getElementById('got'); g.textContent += t + '\\n';"
                       "  if (--left == 0) g.setAttribute('data-done', '1'); }"
                       "function frame(f, what) { var t; try { t = f.contentDocument.body.innerText; }"
                       "  catch (e) { t = 'refused'; } return what + ': ' + t; }"
                       "fetch(secret).then(function(r) { return r.text(); })"
                       "  .then(function(t) { got('fetch: ' + t); }, function() { got('fetch: refused'); });"
                       "var x = new XMLHttpRequest();"
                       "x.onload = function() { got('request: ' + x.responseText); };"
                       "x.onerror = function() { got('request: refused'); };"
                       "try { x.open('GET', secret); x.send(); } catch (e) { got('request: refused'); }"
                       "var f = document.createElement('iframe'), after = document.createElement('iframe');"
                       "f.onload = function() { document.getElementById('got').textContent += frame(f, 'frame') + '\\n'; };"
                       "f.src = secret; document.body.appendChild(f);"
                       "after.onload = function() { got(frame(f, 'frame')); };"
                       "after.src = 'c.html'; document.body.appendChild(after);"
                       "</script></body></html>");
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NE(nullptr, pane());
  web_size(201, 0, 599, 460);
  console_init(nullptr);
  ASSERT_EQ(1, web_navigate_help(("file://" + dir + "/help/a.html").c_str()));
  ASSERT_TRUE(wait_for([&] { return loaded("/help/a.html"); })) << web_current_url();

  ASSERT_NO_FATAL_FAILURE(click("out"));
  ASSERT_TRUE(wait_for([&] { return std::string(console_text()).find("secret.txt") != std::string::npos; }))
      << console_text();
  EXPECT_TRUE(view()->url().toString().endsWith("/help/a.html")) << view()->url().toString().toStdString();

  ASSERT_NO_FATAL_FAILURE(click("next"));
  // Its own title, not the engine's page of a refusal.
  ASSERT_TRUE(wait_for([&] { return view()->title() == "B"; })) << view()->title().toStdString();
  EXPECT_TRUE(view()->url().toString().endsWith("/help/b.html"));
  QString got;
  ASSERT_TRUE(wait_for([&] {
    got = ask("document.getElementById('got').getAttribute('data-done') ? "
              "document.getElementById('got').textContent : ''").toString();
    return !got.isEmpty();
  })) << ask("document.getElementById('got').textContent").toString().toStdString();
  EXPECT_FALSE(got.contains("7731")) << got.toStdString();
  console_reset_for_test();
}
#endif

}  // namespace
