#include "client/shell/general.h"

#include <iterator>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/scene/sound.h"
#include "client/servers/world.h"
#include "client/shell/psheet.h"

namespace {

const char* const kRatings[] = {"G", "PG", "R", "X"};

const dialog_label kLabels[] = {{1104, 355}, {1101, 356}, {1102, 357},
                                {1105, 358}, {1107, 360}, {1108, 361}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(GENERAL_PAGE, 354, kLabels) {}
  void labels(DialogView& view) override {
    PsheetPage::labels(view);
    view.set_text(1106, msg_arg(359, msg(68)));
  }
  void init(DialogView& view) override {
    view.check(GENERAL_MUSIC, general_music() != 0);
    view.check(GENERAL_SOUND, general_sound() != 0);
    view.list_clear(GENERAL_RATING);
    for (const char* r : kRatings) view.list_add(GENERAL_RATING, r);
    view.list_select(GENERAL_RATING, general_rating());
  }
  void command(DialogView&, int id) override {
    // A new rating alone enables Apply too: only a changed page is applied.
    if (id == GENERAL_MUSIC || id == GENERAL_SOUND || id == GENERAL_RATING) psheet_changed(this);
  }
  const char* help_topic() const override { return "general.html"; }
  void apply(DialogView& view) override {
    int sound = view.checked(GENERAL_SOUND) ? 1 : 0;
    int music = view.checked(GENERAL_MUSIC) ? 1 : 0;
    int rating = general_rating();
    int r = view.list_selection(GENERAL_RATING);
    if (r >= 0 && r < static_cast<int>(std::size(kRatings))) rating = r;
    sound_set_effects(sound);
    sound_set_music(music);
    profile_set_int("general", "sound", sound);
    profile_set_int("general", "music", music);
    profile_set_int("general", "rating", rating);
  }
};

}  // namespace

int general_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("general_init");
  sound_set_effects(general_sound());
  sound_set_music(general_music());
  world_hook.general_rating = general_rating;
  return 0;
}

PsheetPage& general_page() {
  static Page page;
  return page;
}
