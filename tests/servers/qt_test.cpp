// The Qt side: the worlds list view under a real (offscreen) Qt, and the dialog tables.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QHeaderView>
#include <set>

#include "client/servers/immigrate.h"
#include "client/servers/privilege.h"
#include "client/servers/prompt.h"
#include "client/servers/signup.h"
#include "client/servers/universe.h"
#include "client/servers/worlds.h"
#include "client/ui/immigrate_dialog.h"
#include "client/ui/privilege_dialog.h"
#include "client/ui/prompt_dialog.h"
#include "client/ui/signup_dialog.h"
#include "client/ui/worlds_list.h"
#include "tests/support/qt_app.h"

// The font configuration library keeps caches for the life of the process.
namespace {

QApplication* app() { return &testutil::qt_app("servers_qt_tests"); }

TEST(WorldsQtList, RowsIconsTitlesAndSelection) {
  app();
  QWidget main;
  auto* list = new QtWorldsList(&main);
  intptr_t a = list->add("alpha", "0", WORLDS_IMAGE_STATUS0);
  intptr_t b = list->add("Beta", "3", WORLDS_IMAGE_CLOSED);
  EXPECT_NE(a, b);
  EXPECT_EQ(2, list->topLevelItemCount());
  EXPECT_EQ("Beta", list->topLevelItem(1)->text(0));
  EXPECT_EQ("3", list->topLevelItem(1)->text(1));
  EXPECT_FALSE(list->topLevelItem(1)->icon(0).isNull());
  list->set_column_title(1, "m165 3");
  EXPECT_EQ("m165 3", list->headerItem()->text(1));
  list->set_column_width(0, 120);
  EXPECT_EQ(120, list->columnWidth(0));
  EXPECT_EQ(0, list->selected());
  list->setCurrentItem(list->item_of(b));
  EXPECT_EQ(b, list->selected());
  list->clear();
  EXPECT_EQ(nullptr, list->item_of(b));
  EXPECT_EQ(0, list->selected());
  EXPECT_EQ("Veldara World List", list->objectName());
}

TEST(WorldsQtList, DestroyedViewIsForgottenByTheLogic) {
  app();
  static QWidget* main = nullptr;
  QWidget parent;
  main = &parent;
  worlds_reset();
  worlds_set_list_maker([]() -> WorldsListView* { return new QtWorldsList(main); });
  ASSERT_EQ(0, worlds_init());
  worlds_receive_list(0, {{"one", 1, 1}});
  auto* view = parent.findChild<QtWorldsList*>();
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(1, view->topLevelItemCount());
  delete view;
  // The logic keeps its table but no longer reaches the view.
  worlds_receive_list(0, {{"two", 1, 1}, {"three", 1, 1}});
  EXPECT_EQ(2u, worlds_shown());
  worlds_set_list_maker(nullptr);
  worlds_reset();
}

TEST(ServersDialogTables, EveryControlTheLogicAddressesHasAPlace) {
  const qt_dialog_template* tables[] = {&prompt_dialog_table, &prompt_small_dialog_table, &immigrate_dialog_table,
                                        &immigrate_attributes_dialog_table, &privilege_dialog_table,
                                        &signup_dialog_table};
  const std::vector<std::vector<int>> needed = {
      {PROMPT_LABEL, PROMPT_EDIT, 1, 2},
      {PROMPT_LABEL, PROMPT_EDIT, 1, 2},
      {IMMIGRATE_NAME, IMMIGRATE_PASSWORD, IMMIGRATE_CONFIRM, IMMIGRATE_EMAIL, IMMIGRATE_STATUS, 1, 2},
      {IMMIGRATE_NAME, IMMIGRATE_PASSWORD, IMMIGRATE_CONFIRM, IMMIGRATE_EMAIL, IMMIGRATE_STATUS,
       IMMIGRATE_PRIVILEGE_PASSWORD, IMMIGRATE_IMMIGRATED, IMMIGRATE_RENEW, 1, 2},
      {PRIVILEGE_NAME, PRIVILEGE_PASSWORD, PRIVILEGE_ENABLE, PRIVILEGE_STATUS, 1, 2},
      {REGISTER_NAME, REGISTER_PASSWORD, REGISTER_CONFIRM, REGISTER_EMAIL, REGISTER_CARD_NAME, REGISTER_BUSINESS,
       REGISTER_STREET, REGISTER_CITY, REGISTER_STATE, REGISTER_POSTAL, REGISTER_CARD_NUMBER, REGISTER_PHONE,
       REGISTER_MONTH, REGISTER_YEAR, REGISTER_STATUS, REGISTER_CARD_TYPE_1, 1, 2},
  };
  for (size_t t = 0; t < 6; ++t) {
    std::set<int> ids;
    for (size_t i = 0; i < tables[t]->count; ++i) {
      const qt_control& c = tables[t]->controls[i];
      EXPECT_TRUE(ids.insert(c.id).second) << "table " << tables[t]->resource << " repeats " << c.id;
      EXPECT_LE(c.x + c.width, tables[t]->width) << tables[t]->resource << " control " << c.id;
      EXPECT_LE(c.y + c.height, tables[t]->height) << tables[t]->resource << " control " << c.id;
    }
    for (int id : needed[t]) EXPECT_TRUE(ids.count(id)) << tables[t]->resource << " lacks " << id;
  }
}

}  // namespace
