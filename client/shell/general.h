#pragma once
// [general] sound, music and rating, and the "General" page of the settings sheet.
#include "client/core/control_ids.h"
#include "client/core/settings.h"

class PsheetPage;

// Reads the keys and switches the sound's two kinds; fills the world's rating hook. 0.
int general_init();
PsheetPage& general_page();
