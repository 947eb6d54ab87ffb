#pragma once
// [general] sound, music and rating, and the "General" page of the settings sheet.
#include "client/core/settings.h"

class PsheetPage;

enum GeneralIds : int {
  GENERAL_PAGE = 612,
  GENERAL_MUSIC = 1101,
  GENERAL_SOUND = 1102,
  GENERAL_RATING = 1103,
};

// Reads the keys and switches the sound's two kinds; fills the world's rating hook. 0.
int general_init();
PsheetPage& general_page();
