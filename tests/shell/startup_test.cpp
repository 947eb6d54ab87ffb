// The program's own start-up joins the telegrams, contacts and administration dialogs to the
// universe connection, the join module, the object requests and the menu; what the
// connection hands on is kept over a new start.
#include "client/app/command.h"
#include "client/scene/prop.h"
#include "client/servers/join.h"
#include "client/servers/universe.h"
#include "client/shell/contacts.h"
#include "client/shell/features.h"
#include "client/shell/telegram.h"
#include "tests/spine/spine_fixture.h"

namespace {

const char kIni[] = "[universe]\nhost=127.0.0.1\nport=1\n";

TEST_F(Spine, StartUpJoinsThePagesAndDialogsAndTelegramsOutliveARestart) {
  install(kIni);
  write_file(dir_.file("contacts.txt"), "102\n");
  ASSERT_TRUE(start());
  EXPECT_EQ(&telegram_set_waiting, universe_receiver.telegram_set_waiting);
  EXPECT_EQ(&telegram_receive, universe_receiver.telegram_receive);
  EXPECT_EQ(&telegram_receive_number, universe_receiver.telegram_receive_number);
  EXPECT_EQ(&contacts_state, universe_receiver.contacts_state);
  EXPECT_EQ(&contacts_receive_number, universe_receiver.contacts_receive_number);
  EXPECT_EQ(&contacts_refresh, universe_receiver.contacts_refresh);
  EXPECT_EQ(&admin_refresh, universe_receiver.admin_refresh);
  EXPECT_EQ(&contacts_lookup_name, join_hook.contacts_lookup_name);
  EXPECT_EQ(&eject_result, prop_hook.eject_result);
  EXPECT_NE(nullptr, menu_hook.worldopts_dialog);
  EXPECT_NE(nullptr, menu_hook.admin_universe);
  EXPECT_EQ(1, contacts_count());

  citizen_set_number(101);
  universe_receiver.telegram_receive(5, "bob", "kept", 0);
  EXPECT_EQ(1, telegram_stored(101));
  ASSERT_TRUE(restart(kIni));
  EXPECT_EQ(1, telegram_stored(101));
  EXPECT_EQ(1, contacts_count());
  tessel_shutdown(nullptr);
  telegram_reset();
  contacts_reset();
}

}  // namespace
