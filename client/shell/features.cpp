#include "client/shell/features.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/core/dialog.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/tessel.h"
#include "client/scene/avatar.h"
#include "client/scene/prop.h"
#include "client/servers/attributes.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

namespace {

constexpr int TEXT_LIMIT = 255;
constexpr int PASSWORD_LIMIT = 200;

struct features_module {
  DialogView* worldopts = nullptr;
  bool fetching = false;
  int red = 0, green = 0, blue = 0;
  uint32_t custom[16] = {};
  DialogView* admin = nullptr;
  DialogView* eject = nullptr;
  features_color_chooser chooser = nullptr;
};
features_module fm;

// Text fields and the slot each edits.
struct text_field {
  int id;
  int slot;
};
const text_field kTextFields[] = {
    {WORLDOPTS_TITLE, 0},  {WORLDOPTS_BACKDROP, 1}, {WORLDOPTS_GROUND, 2},   {WORLDOPTS_HOME_PAGE, 20},
    {WORLDOPTS_WELCOME, 25}, {WORLDOPTS_REFRESH, 5}, {WORLDOPTS_RESTRICTED_RADIUS, 15},
};
const text_field kRightsFields[] = {
    {WORLDOPTS_ENTER_RIGHTS, 8},    {WORLDOPTS_BUILD_RIGHTS, 6},    {WORLDOPTS_EMINENT_RIGHTS, 7},
    {WORLDOPTS_SPECIAL_RIGHTS, 10}, {WORLDOPTS_SPEAKER_RIGHTS, 18}, {WORLDOPTS_EJECT_RIGHTS, 26},
};
const text_field kYesBoxes[] = {
    {WORLDOPTS_PASS_THROUGH, 31}, {WORLDOPTS_FLYING, 32}, {WORLDOPTS_LOCAL_TELEPORTS, 33}, {WORLDOPTS_VRML_SCALING, 34},
};
const char* const kRatings[] = {"G", "PG", "R", "X"};
const char* const kCellLimits[] = {"1500", "2500", "4000"};

const char* slot_text(int slot) {
  const char* v = attribute_get(slot);
  return v ? v : "";
}

void set_slot(int slot, const std::string& text) {
  attribute_set(slot, text.data(), static_cast<int>(text.size()));
}

int colour_part(int slot) { return std::clamp(attribute_number(slot), 0, 255); }

void paint_swatch(DialogView& v) {
  char colour[16];
  std::snprintf(colour, sizeof colour, "#%02x%02x%02x", fm.red & 0xFF, fm.green & 0xFF, fm.blue & 0xFF);
  v.set_text(WORLDOPTS_SWATCH, colour);
}

bool may_change() { return world_rights_flag(); }

void enable_all(DialogView& v, bool on, bool new_protocol) {
  for (const text_field& f : kTextFields) v.enable(f.id, on);
  for (const text_field& f : kRightsFields) v.enable(f.id, on);
  for (const text_field& f : kYesBoxes) v.enable(f.id, on);
  v.enable(WORLDOPTS_OBJECT_PATH, on);
  v.enable(WORLDOPTS_PASSWORD, on);
  v.enable(WORLDOPTS_NO_URL_COMMAND, on);
  v.enable(WORLDOPTS_RATING, on);
  v.enable(WORLDOPTS_CHANGE_COLOR, on);
  v.enable(WORLDOPTS_EJECT_RIGHTS, on && new_protocol);
  v.enable(WORLDOPTS_CELL_LIMIT, on && new_protocol);
  v.enable(DIALOG_OK, on);
}

// The fields from the slots.
void fill(DialogView& v) {
  const bool change = may_change();
  v.set_title(msg(change ? 293 : 315));
  enable_all(v, change, !prop_get_old());
  for (const text_field& f : kTextFields) v.set_text(f.id, slot_text(f.slot));
  v.set_text(WORLDOPTS_OBJECT_PATH, change ? slot_text(3) : "");
  v.set_text(WORLDOPTS_PASSWORD, change ? object_password() : "");
  for (const text_field& f : kRightsFields) {
    const char* list = slot_text(f.slot);
    if (change)
      v.set_text(f.id, list);
    else
      v.set_text(f.id, msg(!*list ? 51 : std::strcmp(list, "*") == 0 ? 50 : 25));
  }
  const std::string cell = slot_text(29);
  v.list_select(WORLDOPTS_CELL_LIMIT, cell == kCellLimits[1] ? 1 : cell == kCellLimits[2] ? 2 : 0);
  int rating = attribute_number(24);
  v.list_select(WORLDOPTS_RATING, rating >= 0 && rating < 4 ? rating : -1);
  v.check(WORLDOPTS_NO_URL_COMMAND, std::strcmp(slot_text(23), "N") == 0);
  for (const text_field& f : kYesBoxes) v.check(f.id, attribute_yes(f.slot));
  fm.red = colour_part(11);
  fm.green = colour_part(12);
  fm.blue = colour_part(13);
  paint_swatch(v);
}

// The object password as typed, with its enciphered form in slot 22. An empty field clears
// the slot as well, so that a cleared password is not sent back unchanged.
void store_object_password(const std::string& text) {
  object_password_set(text.c_str(), text.size());
  size_t length = 0;
  uint8_t* enciphered = object_password_enciphered(&length);
  if (enciphered)
    attribute_set(ATTR_OBJECT_PASSWORD, enciphered, static_cast<int>(length));
  else
    attribute_set(ATTR_OBJECT_PASSWORD, "", 0);
  std::free(enciphered);
}

void store(DialogView& v) {
  for (const text_field& f : kTextFields) set_slot(f.slot, v.text(f.id, TEXT_LIMIT));
  set_slot(ATTR_OBJECT_PATH, v.text(WORLDOPTS_OBJECT_PATH, TEXT_LIMIT));
  store_object_password(v.text(WORLDOPTS_PASSWORD, PASSWORD_LIMIT));
  char number[16];
  const int parts[3] = {fm.red, fm.green, fm.blue};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(number, sizeof number, "%d", parts[i]);
    set_slot(ATTR_RED + i, number);
  }
  for (const text_field& f : kRightsFields) {
    std::string list = v.text(f.id, TEXT_LIMIT);
    worldopts_cut_rights(list.data());
    set_slot(f.slot, list.c_str());
  }
  set_slot(ATTR_URL_COMMAND, v.checked(WORLDOPTS_NO_URL_COMMAND) ? "N" : "Y");
  for (const text_field& f : kYesBoxes) set_slot(f.slot, v.checked(f.id) ? "Y" : "N");
  int rating = v.list_selection(WORLDOPTS_RATING);
  if (rating >= 0 && rating < 4) {
    std::snprintf(number, sizeof number, "%d", rating);
    set_slot(ATTR_RATING, number);
  }
  int cell = v.list_selection(WORLDOPTS_CELL_LIMIT);
  set_slot(ATTR_LOAD_RATE, kCellLimits[cell == 1 || cell == 2 ? cell : 0]);
}

class WorldOptsDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    fm.worldopts = &v;
    static const dialog_label labels[] = {
        {128, 294}, {129, 295}, {130, 296}, {131, 297}, {132, 298}, {133, 299}, {134, 300}, {135, 301},
        {136, 302}, {137, 303}, {138, 304}, {139, 305}, {140, 306}, {141, 307}, {142, 308}, {143, 316},
        {144, 317}, {145, 318}, {146, 319}, {147, 320}, {148, 321}, {149, 322}, {WORLDOPTS_NO_URL_COMMAND, 309},
        {WORLDOPTS_PASS_THROUGH, 310}, {WORLDOPTS_FLYING, 311}, {WORLDOPTS_LOCAL_TELEPORTS, 312},
        {WORLDOPTS_VRML_SCALING, 313}, {WORLDOPTS_CHANGE_COLOR, 314}, {DIALOG_OK, 136}, {DIALOG_CANCEL, 137},
    };
    dialog_apply_labels(v, labels);
    for (const text_field& f : kTextFields) v.limit(f.id, TEXT_LIMIT);
    for (const text_field& f : kRightsFields) v.limit(f.id, TEXT_LIMIT);
    v.limit(WORLDOPTS_OBJECT_PATH, TEXT_LIMIT);
    v.limit(WORLDOPTS_PASSWORD, PASSWORD_LIMIT);
    v.list_clear(WORLDOPTS_CELL_LIMIT);
    for (int m : {34, 35, 36}) v.list_add(WORLDOPTS_CELL_LIMIT, msg(m));
    v.list_clear(WORLDOPTS_RATING);
    for (const char* r : kRatings) v.list_add(WORLDOPTS_RATING, r);
    if (fm.fetching) {
      v.set_title("Determining options...(please wait)");
      v.enable(DIALOG_OK, false);
    } else {
      fill(v);
    }
  }

  void command(DialogView& v, int id) override {
    switch (id) {
      case WORLDOPTS_CHANGE_COLOR: choose_colour(v); break;
      case DIALOG_OK: ok(v); break;
      case DIALOG_CANCEL: v.end(0); break;
      default: break;
    }
  }

 private:
  void choose_colour(DialogView& v) {
    if (!fm.chooser) return;
    uint32_t current = static_cast<uint32_t>(fm.red) | static_cast<uint32_t>(fm.green) << 8 |
                       static_cast<uint32_t>(fm.blue) << 16;
    uint32_t chosen = 0;
    if (!fm.chooser(current, fm.custom, &chosen)) return;
    fm.red = chosen & 0xFF;
    fm.green = (chosen >> 8) & 0xFF;
    fm.blue = (chosen >> 16) & 0xFF;
    paint_swatch(v);
  }

  void ok(DialogView& v) {
    if (fm.fetching || !may_change()) return;
    store(v);
    int length = 0;
    uint8_t* block = attributes_pack(&length);
    if (block && length > 0) prop_change_attributes(block, length);
    std::free(block);
    if (prop_get_old()) prop_query_attributes(world_entered);
    v.end(1);
  }
};

class AdminDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    fm.admin = &v;
    v.set_title(msg(438));
    static const dialog_label labels[] = {{456, 439}, {457, 440}, {458, 441}, {459, 442},
                                          {460, 443}, {461, 444}, {DIALOG_OK, 136}, {DIALOG_CANCEL, 137}};
    dialog_apply_labels(v, labels);
    const bool admin = citizen_effective_number() == 1;
    for (int id : kFields) {
      v.limit(id, ADMIN_FIELD_LIMIT);
      v.enable(id, admin);
    }
    v.enable(DIALOG_OK, admin);
    refill(v);
  }

  void command(DialogView& v, int id) override {
    if (id == DIALOG_CANCEL) v.end(0);
    if (id != DIALOG_OK || citizen_effective_number() != 1) return;
    v.set_text(ADMIN_STATUS, msg(20));
    std::string t[5];
    for (int i = 0; i < 5; ++i) t[i] = v.text(kFields[i], ADMIN_FIELD_LIMIT);
    int r = universe_set_attributes(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), t[4].c_str());
    if (r == 0)
      v.end(1);
    else
      v.set_text(ADMIN_STATUS, msg_arg(16, r));
  }

  static void refill(DialogView& v) {
    char number[16];
    const int builds[3] = {universe_minimum_browser(), universe_latest_browser(), universe_beta_browser()};
    for (int i = 0; i < 3; ++i) {
      std::snprintf(number, sizeof number, "%d", builds[i]);
      v.set_text(kFields[i], number);
    }
    v.set_text(ADMIN_MINIMUM_WORLD, universe_minimum_world());
    v.set_text(ADMIN_DEFAULT_WORLD, universe_default_start_world());
  }

  // In the order of universe message 23's tags.
  static constexpr int kFields[5] = {ADMIN_MINIMUM_BROWSER, ADMIN_LATEST_BROWSER, ADMIN_BETA_BROWSER,
                                     ADMIN_MINIMUM_WORLD, ADMIN_DEFAULT_WORLD};
};

class EjectDialog : public DialogController {
 public:
  EjectDialog(const char* name, int session) : name_(name ? name : ""), session_(session) {
    if (name_.size() > EJECT_NAME_LIMIT) name_.resize(EJECT_NAME_LIMIT);
  }
  void init(DialogView& v) override {
    fm.eject = &v;
    v.set_title(msg(347));
    static const dialog_label labels[] = {{EJECT_FIVE_MINUTES, 350}, {EJECT_HOUR, 351},      {EJECT_DAY, 352},
                                          {EJECT_WEEK, 353},         {EJECT_NAME_LABEL, 348}, {EJECT_TIME_LABEL, 349},
                                          {DIALOG_OK, 136},          {DIALOG_CANCEL, 137}};
    dialog_apply_labels(v, labels);
    v.limit(EJECT_NAME, EJECT_NAME_LIMIT);
    v.set_text(EJECT_NAME, name_.c_str());
    v.check(EJECT_HOUR, true);
  }

  void command(DialogView& v, int id) override {
    if (id >= EJECT_FIVE_MINUTES && id <= EJECT_WEEK) {
      // One duration at a time.
      for (int d = EJECT_FIVE_MINUTES; d <= EJECT_WEEK; ++d) v.check(d, d == id);
      return;
    }
    if (id == DIALOG_CANCEL) v.end(0);
    if (id != DIALOG_OK) return;
    std::string name = v.text(EJECT_NAME, EJECT_NAME_LIMIT);
    int session = session_;
    if (name != name_) {
      session = avatar_addr_from_name(name.c_str());
      if (session == 0) {
        v.set_text(EJECT_STATUS, msg_arg(211, name.c_str()));
        return;
      }
    }
    const bool old = prop_get_old() != 0;
    if (old) v.set_text(EJECT_STATUS, msg_arg(209, name.c_str()));
    int32_t seconds = v.checked(EJECT_FIVE_MINUTES) ? 300
                      : v.checked(EJECT_HOUR)       ? 3600
                      : v.checked(EJECT_DAY)        ? 86400
                                                    : 604800;
    int r = prop_eject(session, seconds);
    // A refused request stays on screen; only a sent one closes (or waits for its answer).
    if (r)
      v.set_text(EJECT_STATUS, msg_arg(210, r));
    else if (!old)
      v.end(1);
  }

 private:
  std::string name_;
  int session_;
};

template <class Dialog>
int run_modal(int resource, Dialog& dialog, DialogView*& open) {
  tessel_background();
  int r = dialog_run(resource, dialog);
  tessel_foreground();
  open = nullptr;
  return r == DIALOG_NO_VIEW ? 0 : r;
}

}  // namespace

void features_set_color_chooser(features_color_chooser chooser) { fm.chooser = chooser; }

void worldopts_cut_rights(char* list) {
  if (!list) return;
  for (char* p = list; *p; ++p) {
    if ((*p >= '0' && *p <= '9') || *p == ' ' || *p == '*' || *p == ',') continue;
    *p = 0;
    return;
  }
}

int worldopts_dialog() {
  TRACE("worldopts_dialog");
  if (fm.worldopts) return 0;
  fm.fetching = prop_query_attributes(worldopts_attributes) != 0;
  WorldOptsDialog dialog;
  int r = run_modal(WORLDOPTS_DIALOG, dialog, fm.worldopts);
  fm.fetching = false;
  return r;
}

void worldopts_attributes(const uint8_t* block, int length, int rc) {
  if (!fm.worldopts) return;
  fm.fetching = false;
  if (rc == 0) {
    attributes_load(block, length);
    fill(*fm.worldopts);
  } else {
    fm.worldopts->set_title(msg_arg(103, rc));
  }
}

int admin_universe() {
  TRACE("admin_universe");
  if (fm.admin) return 0;
  AdminDialog dialog;
  return run_modal(ADMIN_DIALOG, dialog, fm.admin);
}

void admin_refresh() {
  if (fm.admin) AdminDialog::refill(*fm.admin);
}

int eject_init() {
  prop_hook.eject_result = eject_result;
  // The universe dialog has no start-up step of its own.
  universe_receiver.admin_refresh = admin_refresh;
  return 0;
}

int eject_dialog(const char* name, int session) {
  TRACE("eject_dialog (%s, %d)", name ? name : "", session);
  if (fm.eject) return 0;
  EjectDialog dialog(name, session);
  return run_modal(EJECT_DIALOG, dialog, fm.eject);
}

void eject_result(int rc) {
  if (!fm.eject) return;
  if (rc == 0)
    fm.eject->end(1);
  else
    fm.eject->set_text(EJECT_STATUS, msg_arg(210, rc));
}

void features_reset() {
  features_color_chooser chooser = fm.chooser;
  fm = features_module{};
  fm.chooser = chooser;
}
