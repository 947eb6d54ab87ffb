// The real sheet and the Downloads window offscreen in the started program, saved as
// pictures under <build>/shots/settings: each page shows the values the modules hold, the
// Downloads window shows a slow transfer while it runs.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <clocale>

#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/shell/disk_page.h"
#include "client/shell/general.h"
#include "client/shell/perform.h"
#include "client/shell/web.h"
#include "client/ui/download_window.h"
#include "client/ui/psheet_dialog.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "tests/settings/settings_fixture.h"
#include "tests/transfer/transfer_util.h"
#include "tests/support/qt_app.h"

namespace settingstest {
namespace {

QApplication* app() { return &testutil::qt_app("settings_qt_test"); }

std::string shot(const std::string& name) {
  std::string dir = std::string(TESSEL_BINARY_DIR) + "/shots/settings";
  std::filesystem::create_directories(dir);
  return dir + "/" + name + ".png";
}

class SettingsQt : public SettingsFixture {
 protected:
  void SetUp() override {
    app();
    transfer_test::clear_proxy_environment();
    SettingsFixture::SetUp();
    qt = std::make_unique<QtHost>();
    host_set(qt.get());
    download_window_qt_install(*qt);
  }
  void TearDown() override {
    SettingsFixture::TearDown();
    download_set_view(nullptr);
    qt.reset();
  }
  // Real dialogs from here on.
  void use_qt_dialogs() {
    qt_dialog_install(nullptr);
    psheet_dialogs_register();
  }
  std::unique_ptr<QtHost> qt;
};

template <class W>
W* child(QWidget* in, int id) {
  return in->findChild<W*>(QString::number(id));
}

TEST_F(SettingsQt, EveryPageShowsTheModulesValues) {
  ASSERT_TRUE(start("[performance]\nframerate=12\nvisibility=80\n[general]\nrating=3\n"
                    "[disk]\nlimit=250\ndelete=14\n[chat]\nnear=20\n"));
  use_qt_dialogs();
  struct Seen {
    int pages = 0;
    std::vector<std::string> titles;
    int framerate = 0, visibility = 0, limit = 0, days = 0, near = 0, rating = -1;
    bool apply_enabled_after_change = false;
    bool rating_caption_over_its_box = false;
    int saved = 0;
  } seen;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(nullptr, sheet);
    auto* tabs = sheet->findChild<QTabWidget*>();
    ASSERT_NE(nullptr, tabs);
    seen.pages = tabs->count();
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);  // as the user picks the page: it is set up now
      QApplication::processEvents();
      seen.titles.push_back(qt_to_bytes(tabs->tabText(i)));
      const int resources[] = {603, 607, 611, 612, 613, 620, 618, 609};
      if (sheet->grab().save(QString::fromStdString(shot("page-" + std::to_string(resources[i])))))
        ++seen.saved;
    }
    seen.framerate = child<QSpinBox>(sheet, 804)->value();
    seen.visibility = child<QSpinBox>(sheet, 805)->value();
    seen.limit = child<QSpinBox>(sheet, 603)->value();
    seen.days = child<QSpinBox>(sheet, 606)->value();
    seen.near = child<QSpinBox>(sheet, 1157)->value();
    seen.rating = child<QComboBox>(sheet, 1103)->currentIndex();
    {  // the rating's caption stands in the rating's frame, right over the box
      auto on_sheet = [&](int id) {
        QWidget* w = child<QWidget>(sheet, id);
        return w ? QRect(w->mapTo(sheet, QPoint(0, 0)), w->size()) : QRect();
      };
      QRect content = on_sheet(1105), caption = on_sheet(1106), box = on_sheet(1103);
      seen.rating_caption_over_its_box = content.contains(caption) && content.contains(box) &&
                                         caption.bottom() < box.top() && box.top() - caption.bottom() < 40;
    }
    child<QSpinBox>(sheet, 804)->setValue(20);  // a change by the user enables Apply
    seen.apply_enabled_after_change = child<QPushButton>(sheet, PSHEET_APPLY)->isEnabled();
    child<QPushButton>(sheet, DIALOG_OK)->click();
  });
  EXPECT_EQ(DIALOG_OK, psheet());
  EXPECT_EQ(PSHEET_PAGES, seen.pages);
  EXPECT_EQ(PSHEET_PAGES, seen.saved);
  ASSERT_EQ(size_t(PSHEET_PAGES), seen.titles.size());
  EXPECT_EQ(msg(375), seen.titles[0]);
  EXPECT_EQ(msg(327), seen.titles[1]);
  EXPECT_EQ(msg(267), seen.titles[7]);
  EXPECT_EQ(12, seen.framerate);
  EXPECT_EQ(80, seen.visibility);
  EXPECT_EQ(250, seen.limit);
  EXPECT_EQ(14, seen.days);
  EXPECT_EQ(20, seen.near);
  EXPECT_EQ(3, seen.rating);
  EXPECT_TRUE(seen.rating_caption_over_its_box);
  EXPECT_TRUE(seen.apply_enabled_after_change);
  // OK applied the changed page.
  EXPECT_EQ(20, perform_framerate());
  EXPECT_EQ("20", ini()["performance.framerate"]);
}

TEST_F(SettingsQt, DownloadsWindowShowsASlowTransferWhileItRuns) {
  testutil::TempDir www("tessel_www_");
  transfer_test::write_file(www.file("t/textures/bricks.jpg"), std::string(4000, 'b'));
  transfer_test::ServerProcess server({"python3", "-u", source_dir() + "/tests/fakes/throttled.py",
                                       www.path(), "100", "100"});
  ASSERT_GT(server.port(), 0);
  ASSERT_TRUE(start("[general]\n"));
  download_set_path((server.base() + "/t").c_str());
  int status = 0;
  ASSERT_NE(nullptr, download_file("textures", "bricks.jpg", 2,
                                   [](void* user, int s, uint8_t*, int) { *static_cast<int*>(user) = s; },
                                   &status));
  menu_handle(MENU_SHOW_DOWNLOADS);
  EXPECT_TRUE(menu_is_checked(MENU_SHOW_DOWNLOADS));
  EXPECT_EQ("1", ini()["show.downloads"]);
  // Frames until some bytes have come and the line shows them.
  char label[64] = "";
  const char* state = nullptr;
  ASSERT_TRUE(testutil::poll_until([&] {
    http_update();
    download_update();
    QApplication::processEvents();
    if (!download_line(0, nullptr, label, sizeof label, &state) || !state || !*state) return false;
    // Past "connecting" (62) and "waiting for data" (27): bytes have come.
    return std::string(state) != msg(62) && std::string(state) != msg(27);
  }, testutil::kWaitMs));
  EXPECT_STREQ("bricks.jpg:", label);
  QtDownloadWindow* window = download_window();
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(window->isVisible());
  // While the transfer runs, its line stands where the idle line was.
  EXPECT_TRUE(testutil::poll_until([&] {
    QApplication::processEvents();
    return !window->findChild<QLabel*>("idle")->isVisible();
  }, testutil::kWaitMs));
  EXPECT_TRUE(window->grab().save(QString::fromStdString(shot("downloads"))));
  EXPECT_EQ(0, status);

  // Where the user puts it is kept for the next time.
  window->move(321, 234);
  QApplication::processEvents();
  EXPECT_EQ(std::to_string(window->frameGeometry().x()), ini()["layout.download_x"]);
  EXPECT_EQ(std::to_string(window->frameGeometry().y()), ini()["layout.download_y"]);

  // Its close box is the menu's toggle.
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(download_shown());
  EXPECT_EQ("0", ini()["show.downloads"]);
  ASSERT_TRUE(testutil::poll_until([&] {
    http_update();
    download_update();
    return status != 0;
  }, testutil::kWaitMs));
  EXPECT_EQ(419, status);
}

TEST_F(SettingsQt, DownloadsWindowNamesItselfSaysWhenIdleAndClosesWithItsButton) {
  ASSERT_TRUE(start("[general]\n"));
  menu_handle(MENU_SHOW_DOWNLOADS);
  QApplication::processEvents();
  QtDownloadWindow* window = download_window();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(window->isVisible());
  EXPECT_EQ("Downloads", window->windowTitle());
  auto* caption = window->findChild<QLabel*>("caption");
  auto* idle = window->findChild<QLabel*>("idle");
  auto* close = window->findChild<QPushButton*>("close");
  ASSERT_TRUE(caption && idle && close);
  EXPECT_TRUE(caption->isVisible());
  EXPECT_EQ("Downloads", caption->text());
  EXPECT_TRUE(idle->isVisible());
  EXPECT_FALSE(idle->text().isEmpty());
  EXPECT_TRUE(close->isVisible());
  EXPECT_TRUE(window->rect().contains(close->geometry()));
  close->click();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(download_shown());
  EXPECT_FALSE(menu_is_checked(MENU_SHOW_DOWNLOADS));
  EXPECT_EQ("0", ini()["show.downloads"]);
}

TEST_F(SettingsQt, DiskUsagePageOverAnAgedCache) {
  ASSERT_TRUE(start("[disk]\nlimit=50\ndelete=30\n"));
  std::string folder = dir_.file("cache/art/aged");
  std::filesystem::create_directories(folder);
  testutil::write_file(folder + "/recent.bin", std::string(2 * 1048576 + 524288, 'r'));
  testutil::write_file(folder + "/forgotten.bin", std::string(1048576, 'f'));
  ASSERT_EQ(0, std::system(("touch -d '40 days ago' '" + folder + "/forgotten.bin'").c_str()));
  // The first run is due 30 s after start-up.
  now_ms += 31000;
  for (int i = 0; i < 1000 && (disk_phase() != 0 || disk_total() == 0); ++i) disk_update();
  ASSERT_FALSE(std::filesystem::exists(folder + "/forgotten.bin"));
  use_qt_dialogs();
  std::string total;
  bool saved = false;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(nullptr, sheet);
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    QApplication::processEvents();
    total = qt_to_bytes(sheet->findChild<QLabel*>(QString::number(DISK_TOTAL))->text());
    saved = sheet->grab().save(QString::fromStdString(shot("disk-usage-aged")));
    child<QPushButton>(sheet, DIALOG_CANCEL)->click();
  });
  EXPECT_EQ(DIALOG_CANCEL, psheet());
  EXPECT_TRUE(saved);
  ASSERT_GE(disk_total(), 2 * 1048576 + 524288);
  EXPECT_EQ(msg_arg(63, static_cast<double>(disk_total()) / 1048576.0), total);
}


// The browser control in the web pane, as far as the sheet's Help reaches it.
struct RecordingContainer : WebContainer {
  void navigate(const char* url) override { urls.push_back(url); }
  int command(int) override { return 1; }
  void move(int, int, int, int) override {}
  void show(bool) override {}
  void redraw() override {}
  std::vector<std::string> urls;
};
RecordingContainer* container = nullptr;

TEST_F(SettingsQt, HelpOnTheGeneralPageOpensItsTopicInTheWebPane) {
  std::filesystem::create_directories(dir_.file("help"));
  testutil::write_file(dir_.file("help/general.html"), "<html><body>General</body></html>");
  web_set_container_maker([]() -> WebContainer* { return container = new RecordingContainer; });
  ASSERT_TRUE(start("[show]\nweb=0\n"));  // the pane starts closed: Help opens it
  use_qt_dialogs();
  struct Seen {
    bool on_performance = true, on_general = false, sheet_stays = false;
    std::string label;
    std::vector<std::string> urls;
  } seen;
  QTimer::singleShot(0, [&] {
    auto* sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(nullptr, sheet);
    auto* tabs = sheet->findChild<QTabWidget*>();
    auto* help = child<QPushButton>(sheet, PSHEET_HELP);
    ASSERT_NE(nullptr, tabs);
    ASSERT_NE(nullptr, help);
    seen.label = qt_to_bytes(help->text());
    seen.on_performance = help->isEnabled();  // the first page has no topic
    help->click();
    tabs->setCurrentIndex(3);
    QApplication::processEvents();
    seen.on_general = help->isEnabled();
    help->click();
    QApplication::processEvents();
    seen.sheet_stays = sheet->isVisible();
    if (container) seen.urls = container->urls;
    child<QPushButton>(sheet, DIALOG_CANCEL)->click();
  });
  EXPECT_EQ(DIALOG_CANCEL, psheet());
  web_set_container_maker(nullptr);
  EXPECT_EQ(msg(195), seen.label);
  EXPECT_FALSE(seen.on_performance);
  EXPECT_TRUE(seen.on_general);
  EXPECT_TRUE(seen.sheet_stays);
  EXPECT_EQ(seen.urls, std::vector<std::string>{"file://" + dir_.file("help/general.html")});
  EXPECT_EQ(1, web_visible());
}

}  // namespace
}  // namespace settingstest
