#include "client/scene/pdialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "client/core/dates.h"
#include "client/core/dialog.h"
#include "client/core/hash.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/scene/element.h"
#include "client/scene/pick.h"
#include "client/servers/universe.h"
#include "platform/host.h"

pdialog_hooks pdialog_hook = {};

namespace {

#define DTRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

constexpr size_t NAME_MAX_BYTES = 256;
const int edit_ids[4] = {PDIALOG_MODEL, PDIALOG_DESCRIPTION, PDIALOG_ACTION, PDIALOG_OWNER};

const dialog_label labels[] = {
    {PDIALOG_LABEL_MODEL, 369},      {PDIALOG_LABEL_DESCRIPTION, 370}, {PDIALOG_LABEL_ACTION, 371},
    {PDIALOG_LABEL_OWNER, 372},      {PDIALOG_LABEL_OWNER_NAME, 373},  {PDIALOG_LABEL_BUILD_TIME, 374},
    {PDIALOG_MENU_TOP_0, 502},       {PDIALOG_MENU_TOP_1, 513},        {108, 503},
    {109, 504},                      {112, 505},                       {113, 506},
    {114, 507},                      {115, 508},                       {110, 509},
    {111, 510},                      {116, 511},                       {117, 512},
    {140, 514},
};

bool builder_command(int id) { return (id >= 108 && id <= 117) || id == 140; }

class Controller : public DialogController {
 public:
  void init(DialogView& view) override;
  void command(DialogView& view, int id) override;
  void close(DialogView& view) override;
};

struct state {
  const pdialog_window_ops* ops = nullptr;
  Controller controller;
  DialogView* view = nullptr;
  std::unique_ptr<ScriptedView> own_view;  // headless: no window layer
  bool visible = false;
  int enabled = 0;
  std::string copies[4];
  int32_t awaited = 0;
  bool awaiting = false;
  hash_table* names = nullptr;
  bool refresh_added = false;
};
state d;

void Controller::init(DialogView& view) {
  for (int id : edit_ids) view.limit(id, PDIALOG_EDIT_LIMIT);
}

void Controller::command(DialogView&, int id) {
  if (pdialog_hook.menu_handle)
    pdialog_hook.menu_handle(id);
  else if (builder_command(id))
    pick_command(id);
}

void Controller::close(DialogView&) {
  pick_off();
  pdialog_hide();
}

void set_visible(bool shown) {
  if (!d.view) return;
  d.visible = shown;
  if (d.ops && d.ops->show) d.ops->show(d.view, shown);
}

void enable_duplicate(bool on) {
  d.view->enable(109, on);
  if (d.ops && d.ops->toolbar_enable) d.ops->toolbar_enable(d.view, 109, on);
}

void place_new() {
  int x = layout_setting("object_x"), y = layout_setting("object_y");
  int width = 0, height = 0;
  if (d.ops && d.ops->size) d.ops->size(d.view, &width, &height);
  if (x == -1 || y == -1) {
    // Beside the main window, a third of the way down.
    Host* h = host();
    HostRect r = h->window_rect();
    x = r.x + r.width + 5;
    y = r.y + r.height / 3;
    int sw = 0, sh = 0;
    h->screen_size(&sw, &sh);
    if (sw > 0 && x > sw - width) x = sw - width;
    if (sh > 0 && y > sh - height) y = sh - height;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
  }
  if (d.ops && d.ops->move) d.ops->move(d.view, x, y);
}

void create() {
  if (d.view) return;
  if (d.ops && d.ops->create) d.view = d.ops->create(d.controller);
  if (!d.view) {
    d.own_view = std::make_unique<ScriptedView>(PDIALOG_DIALOG, d.controller);
    d.view = d.own_view.get();
  }
  pdialog_set_texts();
  d.controller.init(*d.view);
  if (d.ops && d.ops->toolbar_enable)
    for (int id : {108, 109, 112, 113, 114, 115, 110, 111, 116, 117}) d.ops->toolbar_enable(d.view, id, true);
  place_new();
}

const char* cached_name(int32_t number) {
  if (!d.names) return nullptr;
  hash_entry* e = hash_find(d.names, sizeof number, &number);
  return e ? static_cast<const char*>(hash_entry_data(e)) : nullptr;
}

void store_name(int32_t number, const char* name) {
  if (!d.names) d.names = hash_create(101);
  if (!d.names) return;
  size_t length = strnlen(name, NAME_MAX_BYTES - 1);
  hash_remove(d.names, sizeof number, &number);
  int found = 0;
  hash_entry* e = hash_find_or_add(d.names, sizeof number, &number, length + 1, &found);
  if (!e) return;
  char* data = static_cast<char*>(hash_entry_data(e));
  memcpy(data, name, length);
  data[length] = 0;
}

void set_owner_name(const char* name) {
  char line[NAME_MAX_BYTES + 4];
  snprintf(line, sizeof line, "  %s", name);
  d.view->set_text(PDIALOG_OWNER_NAME, line);
}

void read_edit(int id, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  buffer[0] = 0;
  if (!d.view) return;
  size_t max = size - 1 < 255 ? size - 1 : 255;
  std::string t = d.view->text(id, max);
  size_t n = t.size() < max ? t.size() : max;
  memcpy(buffer, t.data(), n);
  buffer[n] = 0;
}

std::string counted(const char* text, int length) {
  if (!text || length <= 0) return std::string();
  return std::string(text, static_cast<size_t>(length));
}

}  // namespace

void pdialog_set_window(const pdialog_window_ops* ops) { d.ops = ops; }

void pdialog_init(void*, void*) {
  DTRACE("pdialog_init");
  if (!d.names) d.names = hash_create(101);
  universe_receiver.pdialog_citizen_name = pdialog_citizen_name;
  if (!d.refresh_added) {
    msg_add_refresh(pdialog_set_texts);
    d.refresh_added = true;
  }
}

void pdialog_enable(const element* e) {
  DTRACE("pdialog_enable");
  if (!e) return;
  create();
  d.enabled = 1;
  for (int id : edit_ids) d.view->enable(id, true);
  d.copies[0] = counted(element_model(e), element_model_length(e));
  d.copies[1] = counted(element_description(e), element_description_length(e));
  d.copies[2] = counted(element_action(e), element_action_length(e));
  char owner_text[20];
  int32_t owner = element_owner(e);
  snprintf(owner_text, sizeof owner_text, "%d", owner);
  d.copies[3] = owner_text;
  pdialog_reset_texts();
  d.awaiting = false;
  if (owner == 0) {
    set_owner_name(msg(28));
  } else if (owner == citizen_number()) {
    set_owner_name(citizen_name());
  } else if (const char* name = cached_name(owner)) {
    set_owner_name(name);
  } else {
    d.view->set_text(PDIALOG_OWNER_NAME, "  ");
    d.awaited = owner;
    d.awaiting = true;
    universe_get_citizen_name(owner);
  }
  int32_t t = element_build_time(e);
  if (t == 0) {
    d.view->set_text(PDIALOG_BUILD_TIME, "");
  } else {
    char line[128];
    snprintf(line, sizeof line, "  %s", date_local(t));
    d.view->set_text(PDIALOG_BUILD_TIME, line);
  }
  set_visible(true);
  enable_duplicate(true);
  DTRACE("pdialog_enable complete");
}

void pdialog_show() {
  DTRACE("pdialog_show");
  create();
  for (int id : edit_ids) d.view->set_text(id, "");
  d.view->set_text(PDIALOG_OWNER_NAME, "");
  d.view->set_text(PDIALOG_BUILD_TIME, "");
  for (int id : edit_ids) d.view->enable(id, false);
  enable_duplicate(false);
  d.enabled = 0;
  d.awaiting = false;
  set_visible(true);
}

void pdialog_hide() {
  if (d.view) set_visible(false);
  d.enabled = 0;
}

int pdialog_enabled() { return d.enabled; }

void pdialog_reset_texts() {
  if (!d.view) return;
  for (int i = 0; i < 4; ++i) d.view->set_text(edit_ids[i], d.copies[i].c_str());
}

void pdialog_model(char* buffer, size_t size) { read_edit(PDIALOG_MODEL, buffer, size); }
void pdialog_description(char* buffer, size_t size) { read_edit(PDIALOG_DESCRIPTION, buffer, size); }
void pdialog_action(char* buffer, size_t size) { read_edit(PDIALOG_ACTION, buffer, size); }

int32_t pdialog_owner() {
  char text[20];
  read_edit(PDIALOG_OWNER, text, sizeof text);
  long long v = strtoll(text, nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return static_cast<int32_t>(v);
}

void pdialog_citizen_name(int rc, int32_t number, const char* name) {
  DTRACE("pdialog_citizen_name");
  const char* shown = (rc != 0 || !name) ? msg(29) : name;
  store_name(number, shown);
  if (d.awaiting && number == d.awaited && d.view) {
    d.awaiting = false;
    const char* kept = cached_name(number);
    set_owner_name(kept ? kept : shown);
  }
}

void pdialog_set_texts() {
  if (!d.view) return;
  d.view->set_title(msg(368));
  dialog_apply_labels(*d.view, labels);
}

void pdialog_moved(int x, int y) {
  profile_set_int("layout", "object_x", x);
  profile_set_int("layout", "object_y", y);
}

bool pdialog_key(int control, int key, bool alt) {
  (void)control;
  if (key == 0x0D && !alt) {
    pick_off();
    return true;
  }
  return false;
}

DialogView* pdialog_view() { return d.view; }
bool pdialog_visible() { return d.view && d.visible; }
int32_t pdialog_awaited() { return d.awaiting ? d.awaited : 0; }

void pdialog_term() {
  if (d.refresh_added) msg_remove_refresh(pdialog_set_texts);
  d.refresh_added = false;
  if (d.names) hash_destroy(d.names);
  d.names = nullptr;
  d.own_view.reset();
  d.view = nullptr;
  d.visible = false;
  d.enabled = 0;
  d.awaiting = false;
  for (std::string& c : d.copies) c.clear();
}
