#pragma once
// The "Disk Usage" page of the settings sheet over the disk cache limits (client/cache/disk).
#include "client/core/control_ids.h"

class PsheetPage;

PsheetPage& disk_page();
