#include "client/shell/dloptions.h"

#include "client/cache/picture.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/scene/sound.h"
#include "client/shell/psheet.h"

namespace {

const dialog_label kLabels[] = {{1214, 337}, {1201, 338}, {1202, 339}, {1203, 340},
                                {1215, 341}, {1206, 342}, {1207, 343}, {1208, 344},
                                {1211, 345}, {1212, 346}};

// One of the two groups: none, a limit, all.
struct Group {
  int none, limit, all, edit, initial;
};
const Group kPictures = {1201, 1202, 1203, 1204, 100};
const Group kAudio = {1206, 1207, 1208, 1209, 150};

void show(DialogView& view, const Group& g, int value) {
  view.check(g.none, value == 0);
  view.check(g.all, value == 1);
  view.check(g.limit, value >= 10);
  view.set_range(g.edit, 10, 999);
  view.set_position(g.edit, value >= 10 ? value : g.initial);
  view.enable(g.edit, value >= 10);
}

// No number in the edit keeps the value there was.
int take(DialogView& view, const Group& g, int old) {
  if (view.checked(g.none)) return 0;
  if (view.checked(g.all)) return 1;
  int v = 0;
  if (!view.position(g.edit, &v)) return old;
  return psheet_clamp(v, 10, 999);
}

bool in(const Group& g, int id) { return id == g.none || id == g.limit || id == g.all || id == g.edit; }

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(DLOPTIONS_PAGE, 335, kLabels) {}
  void labels(DialogView& view) override {
    PsheetPage::labels(view);
    view.set_text(1213, msg_arg(336, msg(68)));
  }
  void init(DialogView& view) override {
    show(view, kPictures, dloptions_pictures());
    show(view, kAudio, dloptions_audio());
  }
  void command(DialogView& view, int id) override {
    for (const Group* g : {&kPictures, &kAudio}) {
      if (!in(*g, id)) continue;
      view.enable(g->edit, view.checked(g->limit));
      psheet_changed(this);
    }
  }
  void apply(DialogView& view) override {
    int pictures = take(view, kPictures, dloptions_pictures());
    int audio = take(view, kAudio, dloptions_audio());
    profile_set_int("downloads", "pictures", pictures);
    profile_set_int("downloads", "audio", audio);
  }
};

}  // namespace

int dloptions_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("dloptions_init");
  picture_hook.dloptions_pictures = dloptions_pictures;
  sound_hook.dloptions_audio = dloptions_audio;
  return 0;
}

PsheetPage& dloptions_page() {
  static Page page;
  return page;
}
