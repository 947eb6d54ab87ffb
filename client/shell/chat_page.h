#pragma once
// The "Chat" page of the settings sheet: [chat] avatars (12 .. 50), near (0 .. 50),
// balloons, logging and logfile (typed, or chosen with Browse). Apply reopens the chat log.
#include "client/core/control_ids.h"

class PsheetPage;

PsheetPage& chat_page();
