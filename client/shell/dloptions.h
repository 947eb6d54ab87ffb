#pragma once
// [downloads] pictures and audio and the "Download Options" page: 0 none fetched, 1 no
// limit, 10 .. 999 a size limit in KB that the picture and sound modules apply.
#include "client/core/control_ids.h"
#include "client/core/settings.h"

class PsheetPage;

// Fills the picture and sound hooks. 0.
int dloptions_init();
PsheetPage& dloptions_page();
