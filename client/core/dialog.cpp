#include "client/core/dialog.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "client/core/msg.h"

DialogView::~DialogView() = default;
DialogController::~DialogController() = default;

void DialogView::set_range(int, int, int) {}

void DialogView::set_position(int id, int position) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", position);
  set_text(id, text);
}

bool DialogView::position(int id, int* out) {
  std::string t = text(id, 15);
  if (t.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(t.c_str(), &end, 10);
  if (*end || v < INT_MIN || v > INT_MAX) return false;
  if (out) *out = static_cast<int>(v);
  return true;
}

bool DialogView::choose_save_file(const char*, const char*, const char*, const std::string&,
                                  std::string*) {
  return false;
}

void dialog_apply_labels(DialogView& view, const dialog_label* table, size_t count) {
  if (!table) return;
  for (size_t i = 0; i < count; ++i) view.set_text(table[i].id, msg(table[i].message));
}

namespace {
dialog_runner_fn runner = nullptr;
ScriptedDialogs* scripted = nullptr;
}  // namespace

void dialog_set_runner(dialog_runner_fn r) { runner = r; }

int dialog_run(int resource, DialogController& controller) {
  if (!runner) return DIALOG_NO_VIEW;
  return runner(resource, controller);
}

// ---- ScriptedView ----------------------------------------------------------------------

ScriptedView::ScriptedView(int resource, DialogController& controller)
    : resource_(resource), controller_(controller) {}

void ScriptedView::set_title(const char* text) { title_ = text ? text : ""; }

void ScriptedView::set_text(int id, const char* text) {
  controls_[id].text = text ? text : "";
  history_[id].push_back(controls_[id].text);
}

std::string ScriptedView::text(int id, size_t max) {
  const std::string& t = controls_[id].text;
  return t.substr(0, std::min(max, t.size()));
}

void ScriptedView::limit(int id, size_t max) { controls_[id].limit = max; }
void ScriptedView::enable(int id, bool on) { controls_[id].enabled = on; }
void ScriptedView::show(int id, bool on) { controls_[id].shown = on; }
void ScriptedView::check(int id, bool on) { controls_[id].checked = on; }
bool ScriptedView::checked(int id) { return controls_[id].checked; }
void ScriptedView::list_clear(int id) {
  controls_[id].items.clear();
  controls_[id].selection = -1;
}
void ScriptedView::list_add(int id, const char* text) { controls_[id].items.emplace_back(text ? text : ""); }
void ScriptedView::list_select(int id, int index) {
  Control& c = controls_[id];
  c.selection = (index >= 0 && static_cast<size_t>(index) < c.items.size()) ? index : -1;
}
int ScriptedView::list_selection(int id) { return controls_[id].selection; }

void ScriptedView::set_range(int id, int low, int high) {
  controls_[id].low = low;
  controls_[id].high = high;
}

// A typed number outside the range is brought to the nearer end, as a spin box does.
bool ScriptedView::position(int id, int* out) {
  int v = 0;
  if (!DialogView::position(id, &v)) return false;
  const Control& c = controls_[id];
  if (c.high >= c.low) v = v < c.low ? c.low : v > c.high ? c.high : v;
  if (out) *out = v;
  return true;
}

bool ScriptedView::choose_save_file(const char* title, const char* filter, const char* pattern,
                                    const std::string& start, std::string* out) {
  file_requests_.push_back({title ? title : "", filter ? filter : "", pattern ? pattern : "", start});
  std::string answer;
  answer.swap(save_answer_);
  if (answer.empty()) return false;
  if (out) *out = answer;
  return true;
}

void ScriptedView::end(int code) {
  if (ended_) return;
  ended_ = true;
  code_ = code;
}

void ScriptedView::post_close() { close_posted_ = true; }

void ScriptedView::type(int id, const std::string& text) {
  Control& c = controls_[id];
  c.text = (c.limit && text.size() > c.limit) ? text.substr(0, c.limit) : text;
}

bool ScriptedView::press(int id) {
  if (ended_) return false;
  Control& c = controls_[id];
  if (!c.enabled || !c.shown) return false;
  controller_.command(*this, id);
  pump();
  return true;
}

void ScriptedView::pump() {
  if (close_posted_ && !ended_) {
    close_posted_ = false;
    controller_.close(*this);
  }
  close_posted_ = false;
}

std::vector<std::string> ScriptedView::history(int id) const {
  auto it = history_.find(id);
  return it == history_.end() ? std::vector<std::string>{} : it->second;
}

// ---- ScriptedDialogs -------------------------------------------------------------------

ScriptedDialogs::ScriptedDialogs() {
  scripted = this;
  dialog_set_runner(&ScriptedDialogs::run);
}

ScriptedDialogs::~ScriptedDialogs() {
  if (scripted == this) {
    scripted = nullptr;
    dialog_set_runner(nullptr);
  }
}

void ScriptedDialogs::add(int resource, Script script) { scripts_[resource].push_back(std::move(script)); }

void ScriptedDialogs::idle_turn() {
  if (idle_) idle_();
  // Frames may have posted closes to any open dialog.
  for (ScriptedView* v : std::vector<ScriptedView*>(open_)) v->pump();
}

namespace dialog_steps {
ScriptedDialogs::Step type(int id, std::string text) {
  return [id, text](ScriptedView& v) { v.type(id, text); };
}
ScriptedDialogs::Step press(int id) {
  return [id](ScriptedView& v) { v.press(id); };
}
ScriptedDialogs::Step check(int id, bool on) {
  return [id, on](ScriptedView& v) { v.check(id, on); };
}
}  // namespace dialog_steps

ScriptedDialogs::Step ScriptedDialogs::wait_until(std::function<bool(ScriptedView&)> pred, int turns) {
  return [this, pred, turns](ScriptedView& v) {
    for (int i = 0; i < turns && !v.ended() && !pred(v); ++i) idle_turn();
  };
}

int ScriptedDialogs::run(int resource, DialogController& controller) {
  return scripted ? scripted->run_one(resource, controller) : DIALOG_NO_VIEW;
}

int ScriptedDialogs::run_one(int resource, DialogController& controller) {
  auto view = std::make_shared<ScriptedView>(resource, controller);
  opened_.push_back(view);
  open_.push_back(view.get());
  controller.init(*view);
  view->pump();
  Script script;
  auto it = scripts_.find(resource);
  if (it != scripts_.end() && !it->second.empty()) {
    script = std::move(it->second.front());
    it->second.pop_front();
  }
  for (auto& step : script) {
    if (view->ended()) break;
    step(*view);
    view->pump();
  }
  for (int i = 0; i < idle_limit_ && !view->ended(); ++i) idle_turn();
  if (!view->ended()) {
    view->post_close();
    view->pump();
  }
  if (!view->ended()) view->end(DIALOG_CANCEL);
  open_.erase(std::find(open_.begin(), open_.end(), view.get()));
  return view->code();
}
