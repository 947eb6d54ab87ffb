#pragma once
// [downloads] pictures and audio and the "Download Options" page: 0 none fetched, 1 no
// limit, 10 .. 999 a size limit in KB that the picture and sound modules apply.
#include "client/core/settings.h"

class PsheetPage;

enum DloptionsIds : int {
  DLOPTIONS_PAGE = 613,
  DLOPTIONS_PICTURES_NONE = 1201,
  DLOPTIONS_PICTURES_LIMIT = 1202,
  DLOPTIONS_PICTURES_ALL = 1203,
  DLOPTIONS_PICTURES_KB = 1204,
  DLOPTIONS_AUDIO_NONE = 1206,
  DLOPTIONS_AUDIO_LIMIT = 1207,
  DLOPTIONS_AUDIO_ALL = 1208,
  DLOPTIONS_AUDIO_KB = 1209,
};

// Fills the picture and sound hooks. 0.
int dloptions_init();
PsheetPage& dloptions_page();
