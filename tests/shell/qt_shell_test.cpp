// The Qt side of the contacts and telegrams pages and of the administration dialogs, under a
// real (offscreen) Qt: the page list as its modules fill it, and the dialogs built from their
// tables and driven through their controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdlib>
#include <set>

#include "client/core/msg.h"
#include "client/scene/prop.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "client/shell/contacts.h"
#include "client/shell/features.h"
#include "client/shell/telegram.h"
#include "client/ui/shell_dialogs.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/shell_list.h"
#include "platform/progdir.h"
#include "tests/shell/shell_fixture.h"
#include "tests/support/test_util.h"

namespace {

QApplication* app() { return &shell_app(); }

std::vector<int> keys, columns, widths;
int destroyed = 0;

const shell_list_events kEvents = {nullptr,
                                   nullptr,
                                   [](int c) { columns.push_back(c); },
                                   [](int k) { keys.push_back(k); },
                                   nullptr,
                                   [] { ++destroyed; },
                                   [](int w0, int) { widths.push_back(w0); }};

TEST(ShellQtList, RowsByIndexIconsSelectionAndWhatTheListTells) {
  app();
  keys.clear();
  columns.clear();
  widths.clear();
  destroyed = 0;
  {
    QWidget main;
    auto* list = new QtShellList(&main, "Veldara Telegrams", SHELL_ICON_TELEGRAM, true, kEvents);
    list->insert(0, "bob", "Mon 10:00", 0);
    list->insert(5, "carol", "Tue 11:00", SHELL_NO_IMAGE);  // past the end: appended
    list->insert(0, "alice", "Wed 12:00", 0);
    ASSERT_EQ(3, list->topLevelItemCount());
    EXPECT_EQ("alice", list->topLevelItem(0)->text(0));
    EXPECT_EQ("Tue 11:00", list->topLevelItem(2)->text(1));
    EXPECT_FALSE(list->topLevelItem(0)->icon(0).isNull());
    EXPECT_TRUE(list->topLevelItem(2)->icon(0).isNull());
    list->set_image(0, SHELL_NO_IMAGE);
    EXPECT_TRUE(list->topLevelItem(0)->icon(0).isNull());
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    EXPECT_EQ((std::vector<int>{0, 2}), list->selection());
    list->remove(1);
    EXPECT_EQ((std::vector<int>{0, 1}), list->selection());
    list->select(1);
    EXPECT_EQ(std::vector<int>{1}, list->selection());
    list->set_column_title(0, "m215");
    EXPECT_EQ("m215", list->headerItem()->text(0));
    list->set_column_width(1, 77);
    EXPECT_EQ(77, list->column_width(1));
    EXPECT_TRUE(widths.empty());  // the module's own widths are not stored as the user's
    list->header()->resizeSection(0, 111);
    EXPECT_EQ(std::vector<int>{111}, widths);
    EXPECT_EQ(QAbstractItemView::ExtendedSelection, list->selectionMode());
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(list, &del);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_EQ((std::vector<int>{SHELL_KEY_DELETE, SHELL_KEY_ENTER}), keys);
    emit list->header()->sectionClicked(1);
    EXPECT_EQ(std::vector<int>{1}, columns);
    EXPECT_EQ("Veldara Telegrams", list->objectName());
  }
  EXPECT_EQ(1, destroyed);
}

QWidget* page_parent = nullptr;

TEST(ShellQtList, TheContactsPageShowsStatesAndForgetsAListThatWent) {
  app();
  testutil::TempDir dir("tessel-shell-qt-");
  platform_set_program_dir(dir.path());
  QWidget main;
  page_parent = &main;
  contacts_reset();
  shell_set_list_maker([](const char* name, int icon, bool multiple, const shell_list_events& e) -> ShellListView* {
    return new QtShellList(page_parent, name, icon, multiple, e);
  });
  ASSERT_EQ(0, contacts_init());
  auto* list = main.findChild<QtShellList*>("Veldara Contacts");
  ASSERT_NE(nullptr, list);
  EXPECT_FALSE(list->isVisibleTo(&main));
  EXPECT_EQ(QAbstractItemView::SingleSelection, list->selectionMode());
  // Two contacts added by name as the universe answers.
  contacts_add("zed");
  contacts_receive_number(0, "zed", 5);
  contacts_add("Amy");
  contacts_receive_number(0, "Amy", 6);
  universe_contact_entry online{5, 1, "zed", "Hub"};
  contacts_state(0, {online});
  ASSERT_EQ(2, list->topLevelItemCount());
  EXPECT_EQ("Amy", list->topLevelItem(0)->text(0));
  EXPECT_EQ("zed", list->topLevelItem(1)->text(0));
  EXPECT_EQ("Hub", list->topLevelItem(1)->text(1));
  EXPECT_FALSE(list->topLevelItem(1)->icon(0).isNull());
  EXPECT_TRUE(list->topLevelItem(0)->icon(0).isNull());
  contacts_show();
  EXPECT_TRUE(list->isVisibleTo(&main));
  delete list;
  // Gone: the module goes on without it.
  contacts_state(0, {universe_contact_entry{6, 0, "Amy", ""}});
  EXPECT_EQ(2, contacts_rows());
  std::string file = testutil::read_file(dir.file("contacts.txt"));
  EXPECT_TRUE(file == "5\n6\n" || file == "6\n5\n") << file;
  shell_set_list_maker(nullptr);
  contacts_reset();
}

// Runs fn on the dialog once it is up.
template <class Fn>
void when_up(Fn fn) {
  QTimer::singleShot(0, [fn] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) {
        fn(d);
        return;
      }
  });
}

template <class T>
T* control(QDialog* d, int id) {
  return d->findChild<T*>(QString::number(id));
}

TEST(ShellQtDialogs, EjectDurationsAreOneGroupAndAFailedSendStaysOpen) {
  app();
  shell_dialogs_register();
  qt_dialog_install(nullptr);
  features_reset();
  prop_set_old(0);
  msg_set(210, "m210 %d");
  bool hour = false, day = false, status = false;
  when_up([&](QDialog* d) {
    hour = control<QRadioButton>(d, EJECT_HOUR)->isChecked();
    control<QRadioButton>(d, EJECT_DAY)->click();
    day = control<QRadioButton>(d, EJECT_DAY)->isChecked() && !control<QRadioButton>(d, EJECT_HOUR)->isChecked();
    // No world connection: the request fails and the dialog says so.
    control<QPushButton>(d, DIALOG_OK)->click();
    status = control<QLabel>(d, EJECT_STATUS)->text().startsWith("m210 ") && d->isVisible();
    control<QPushButton>(d, DIALOG_CANCEL)->click();
  });
  EXPECT_EQ(0, eject_dialog("bob", 7));
  EXPECT_TRUE(hour);
  EXPECT_TRUE(day);
  EXPECT_TRUE(status);
  dialog_set_runner(nullptr);
}

TEST(ShellQtDialogs, WorldFeaturesChoicesAndSwatchAreReal) {
  app();
  shell_dialogs_register();
  qt_dialog_install(nullptr);
  features_reset();
  prop_set_old(0);  // a world of the current protocol: nothing to fetch first
  int ratings = 0, rating = -2, limits = 0;
  QString colour;
  bool ok_enabled = true;
  when_up([&](QDialog* d) {
    ratings = control<QComboBox>(d, WORLDOPTS_RATING)->count();
    rating = control<QComboBox>(d, WORLDOPTS_RATING)->currentIndex();
    limits = control<QComboBox>(d, WORLDOPTS_CELL_LIMIT)->count();
    colour = control<QLabel>(d, WORLDOPTS_SWATCH)->styleSheet();
    ok_enabled = control<QPushButton>(d, DIALOG_OK)->isEnabled();
    control<QPushButton>(d, DIALOG_CANCEL)->click();
  });
  EXPECT_EQ(0, worldopts_dialog());
  EXPECT_EQ(4, ratings);
  EXPECT_EQ(1, rating);  // the default rating
  EXPECT_EQ(3, limits);
  EXPECT_TRUE(colour.contains("#0000b2")) << colour.toStdString();
  EXPECT_FALSE(ok_enabled);  // no rights in no world
  dialog_set_runner(nullptr);
}

// A world's name or a user's name from a server is shown as the characters it is, never as
// markup, and its line breaks and terminal codes do not reach the box; our own message keeps
// its line break.
TEST(ShellQtDialogs, TextsFromServersShowAsTheirOwnCharacters) {
  app();
  msg_set(89, "m89 %s\nsecond line");
  QtHost host;
  QString text, caption;
  Qt::TextFormat format = Qt::AutoText, label_format = Qt::AutoText;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        text = box->text();
        caption = box->windowTitle();
        format = box->textFormat();
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) label_format = label->textFormat();
        box->done(QMessageBox::Ok);
      }
  });
  host.message_box(world_error_text(207, "<h1>hack</h1>\r\nbob:\x1b[2J"), "<b>Veldara\n", HOST_MB_ICONERROR);
  EXPECT_EQ("m89 <h1>hack</h1>??bob:?[2J\nsecond line", text.toStdString());
  EXPECT_EQ("<b>Veldara?", caption.toStdString());
  EXPECT_EQ(Qt::PlainText, format);
  EXPECT_EQ(Qt::PlainText, label_format);

  // A name in a dialog's label: the eject dialog's answer about a name it does not know.
  shell_dialogs_register();
  qt_dialog_install(nullptr);
  features_reset();
  prop_set_old(0);
  msg_set(211, "m211 %s");
  QString status;
  Qt::TextFormat status_format = Qt::AutoText;
  when_up([&](QDialog* d) {
    control<QLineEdit>(d, EJECT_NAME)->setText("<h1>nobody</h1>");
    control<QPushButton>(d, DIALOG_OK)->click();
    status = control<QLabel>(d, EJECT_STATUS)->text();
    status_format = control<QLabel>(d, EJECT_STATUS)->textFormat();
    control<QPushButton>(d, DIALOG_CANCEL)->click();
  });
  EXPECT_EQ(0, eject_dialog("bob", 7));
  EXPECT_EQ("m211 <h1>nobody</h1>", status.toStdString());
  EXPECT_EQ(Qt::PlainText, status_format);
  dialog_set_runner(nullptr);

  // A table's label given a server's text draws its characters, as a plain label of the same
  // place draws them, not a bold x.
  static const qt_control label_controls[] = {{1, QtControl::Label, 12, 12, 200, 20}, qt_cancel_button(300, 40)};
  static const qt_dialog_template label_table = qt_dialog_table(1, 300, 80, label_controls);
  struct ServerText : DialogController {
    void init(DialogView& v) override { v.set_text(1, "<b>x"); }
    void command(DialogView& v, int id) override { v.end(id); }
  } says;
  QImage shown, plain;
  when_up([&](QDialog* d) {
    QLabel* label = control<QLabel>(d, 1);
    shown = label->grab().toImage();
    QLabel reference(d);
    reference.setTextFormat(Qt::PlainText);
    reference.setText("<b>x");
    reference.setGeometry(label->geometry());
    plain = reference.grab().toImage();
    d->reject();
  });
  qt_dialog_run(&label_table, says, nullptr);
  ASSERT_FALSE(shown.isNull());
  EXPECT_TRUE(plain == shown) << "the label drew \"<b>x\" as markup";
}

TEST(ShellQtDialogs, TheTelegramTextIsSeveralLinesAndEveryIdHasAPlace) {
  const qt_dialog_template* tables[] = {&telegram_dialog_table, &worldopts_dialog_table, &admin_dialog_table,
                                        &eject_dialog_table};
  const std::vector<std::vector<int>> used = {
      {TELEGRAM_RECIPIENT, TELEGRAM_TEXT, TELEGRAM_STATUS, TELEGRAM_RECIPIENT_LABEL, TELEGRAM_TEXT_LABEL, 1, 2},
      {101, 102, 103, 104, 106, 107, 108, 110, 111, 112, 113, 114, 115, 116, 118, 119, 120, 121, 122, 123, 124,
       125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145,
       146, 147, 148, 149, 1, 2},
      {450, 451, 452, 453, 454, 455, 456, 457, 458, 459, 460, 461, 1, 2},
      {551, 552, 553, 554, 555, 556, 557, 558, 1, 2},
  };
  for (size_t t = 0; t < 4; ++t) {
    std::set<int> ids;
    for (size_t i = 0; i < tables[t]->count; ++i) {
      EXPECT_TRUE(ids.insert(tables[t]->controls[i].id).second) << "twice: " << tables[t]->controls[i].id;
      EXPECT_LE(tables[t]->controls[i].x + tables[t]->controls[i].width, tables[t]->width);
      EXPECT_LE(tables[t]->controls[i].y + tables[t]->controls[i].height, tables[t]->height);
    }
    for (int id : used[t]) EXPECT_TRUE(ids.count(id)) << "table " << tables[t]->resource << " lacks " << id;
  }
  bool multi = false;
  for (size_t i = 0; i < telegram_dialog_table.count; ++i)
    if (telegram_dialog_table.controls[i].id == TELEGRAM_TEXT)
      multi = telegram_dialog_table.controls[i].kind == QtControl::MultiEdit;
  EXPECT_TRUE(multi);
}

}  // namespace
