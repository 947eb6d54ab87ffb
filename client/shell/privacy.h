#pragma once
// [privacy] join, verify and hide_world, and the "Privacy" page. A change of hide world is
// told to the universe by a new login.
#include "client/core/control_ids.h"
#include "client/core/settings.h"

class PsheetPage;

// Fills the join and universe hooks. 0.
int privacy_init();
PsheetPage& privacy_page();
