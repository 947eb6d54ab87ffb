#pragma once
// [privacy] join, verify and hide_world, and the "Privacy" page. A change of hide world is
// told to the universe by a new login.
#include "client/core/settings.h"

class PsheetPage;

enum PrivacyIds : int {
  PRIVACY_PAGE = 620,
  PRIVACY_JOIN_ASK = 201,    // join = 0
  PRIVACY_JOIN_ALLOW = 202,  // 1
  PRIVACY_JOIN_REFUSE = 203, // 2
  PRIVACY_VERIFY = 204,
  PRIVACY_HIDE_WORLD = 205,
};

// Fills the join and universe hooks. 0.
int privacy_init();
PsheetPage& privacy_page();
