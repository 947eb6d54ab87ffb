#pragma once
// A program directory with the world modules' state started: the keyed-file engine, a fake
// clock for the connections' deadlines, the cell cache, the world module's state, the
// world-change reset tables and the citizen "Tester" (101); all of it undone at the end.
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/scene/cell.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/clock.h"
#include "tests/support/program_dir_fixture.h"

namespace testutil {

class WorldModulesFixture : public ProgramDirFixture {
 protected:
  void start_world_modules(const lifecycle_tables* tables) {
    ASSERT_NO_FATAL_FAILURE(start_database());
    fake_now = 1000;
    platform_set_clock(fake_clock);
    cell_init();
    world_reset_state();
    lifecycle_set_tables(tables);
    identity_reset();
    citizen_set_name("Tester");
    citizen_set_number(101);
  }

  void stop_world_modules() {
    world_term();
    world_reset_state();
    universe_term();
    cell_set_element_create(nullptr);
    cell_term();
    universe_receiver = universe_receivers{};
    world_hook = world_hooks{};
    lifecycle_set_tables(nullptr);
    identity_reset();
    platform_set_clock(nullptr);
    leave_program_dir();
  }
};

}  // namespace testutil
