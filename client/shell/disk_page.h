#pragma once
// The "Disk Usage" page of the settings sheet over the disk cache limits (client/cache/disk).
class PsheetPage;

enum DiskPageIds : int {
  DISK_PAGE = 607,
  DISK_NO_LIMIT = 601,
  DISK_LIMIT = 602,
  DISK_LIMIT_MB = 603,
  DISK_DELETE = 605,
  DISK_DELETE_DAYS = 606,
  DISK_TOTAL = 608,
};

PsheetPage& disk_page();
