#pragma once
// The "Proxy" page of the settings sheet; the setting itself is client/net/proxy.
#include "client/core/control_ids.h"

class PsheetPage;

PsheetPage& proxy_page();
