#pragma once
// Dialogs: each dialog's logic is a controller that speaks to a view addressed by control ids.
// The program's views are built by the Qt layer from declarative tables; tests use the
// scripted view below. Texts are byte strings (Windows-1252), as everywhere in the logic.
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Control ids the system gives its standard buttons.
enum : int { DIALOG_OK = 1, DIALOG_CANCEL = 2 };
// What dialog_run gives when no view can be shown (no runner installed).
constexpr int DIALOG_NO_VIEW = -1;

class DialogView {
 public:
  virtual ~DialogView();
  virtual void set_title(const char* text) = 0;
  virtual void set_text(int id, const char* text) = 0;
  // The control's text cut to at most max bytes.
  virtual std::string text(int id, size_t max) = 0;
  // Longest text the user can type into an edit.
  virtual void limit(int id, size_t max) = 0;
  virtual void enable(int id, bool on) = 0;
  virtual void show(int id, bool on) = 0;
  virtual void check(int id, bool on) = 0;
  virtual bool checked(int id) = 0;
  virtual void list_clear(int id) = 0;
  virtual void list_add(int id, const char* text) = 0;
  virtual void list_select(int id, int index) = 0;
  virtual int list_selection(int id) = 0;  // -1 when none
  // Up-down controls, addressed by their buddy edit's id: the range, the position shown,
  // and the position read back: false when the edit holds no number, a number outside the
  // range comes back as the nearer end.
  virtual void set_range(int id, int low, int high);
  virtual void set_position(int id, int position);
  virtual bool position(int id, int* out);
  // A save-file dialog over this one: its title, one filter (name and pattern) and the name it
  // starts from. True with the chosen file in out; false when cancelled or not offered.
  virtual bool choose_save_file(const char* title, const char* filter, const char* pattern,
                                const std::string& start, std::string* out);
  // Ends the modal loop; dialog_run returns code.
  virtual void end(int code) = 0;
  // As if the user closed the window: the controller's close() runs once the current
  // handler has returned (never from inside it).
  virtual void post_close() = 0;
};

class DialogController {
 public:
  virtual ~DialogController();
  virtual void init(DialogView& view) = 0;
  // A button (or check box) was pressed.
  virtual void command(DialogView& view, int id) = 0;
  // The window's close box; by default the same as Cancel.
  virtual void close(DialogView& view) { command(view, DIALOG_CANCEL); }
};

// {control id, message number}: labels, buttons and the like take their texts from the
// message table.
struct dialog_label {
  int id;
  int message;
};
void dialog_apply_labels(DialogView& view, const dialog_label* table, size_t count);
template <size_t N>
void dialog_apply_labels(DialogView& view, const dialog_label (&table)[N]) {
  dialog_apply_labels(view, table, N);
}

// Runs dialog resource modally with the controller and returns the code it ended with.
using dialog_runner_fn = int (*)(int resource, DialogController& controller);
// nullptr removes the runner.
void dialog_set_runner(dialog_runner_fn runner);
// DIALOG_NO_VIEW when no runner is installed.
int dialog_run(int resource, DialogController& controller);

// ---- scripted views (tests and scripted runs) ----------------------------------------
class ScriptedView : public DialogView {
 public:
  struct Control {
    std::string text;
    size_t limit = 0;  // 0: none
    bool enabled = true;
    bool shown = true;
    bool checked = false;
    std::vector<std::string> items;
    int selection = -1;
    int low = 0, high = -1;  // up-down range (none while high < low)
  };

  ScriptedView(int resource, DialogController& controller);

  void set_title(const char* text) override;
  void set_text(int id, const char* text) override;
  std::string text(int id, size_t max) override;
  void limit(int id, size_t max) override;
  void enable(int id, bool on) override;
  void show(int id, bool on) override;
  void check(int id, bool on) override;
  bool checked(int id) override;
  void list_clear(int id) override;
  void list_add(int id, const char* text) override;
  void list_select(int id, int index) override;
  int list_selection(int id) override;
  void set_range(int id, int low, int high) override;
  bool position(int id, int* out) override;
  bool choose_save_file(const char* title, const char* filter, const char* pattern,
                        const std::string& start, std::string* out) override;
  void end(int code) override;
  void post_close() override;

  // The file the next save-file dialog is answered with ("" cancels it), and what the last
  // one was asked: title, filter, pattern and the name it started from.
  void answer_save_file(const std::string& path) { save_answer_ = path; }
  struct FileRequest {
    std::string title, filter, pattern, start;
  };
  const std::vector<FileRequest>& file_requests() const { return file_requests_; }

  // What a user does: typing keeps to the edit's limit, as a real edit does.
  void type(int id, const std::string& text);
  // Presses a button; a disabled or hidden control does nothing. False when ignored.
  bool press(int id);
  // Runs a posted close, as the loop does between handlers.
  void pump();

  int resource() const { return resource_; }
  bool ended() const { return ended_; }
  int code() const { return code_; }
  const std::string& title() const { return title_; }
  const Control& control(int id) { return controls_[id]; }
  // Every text the status control showed, in order.
  std::vector<std::string> history(int id) const;

 private:
  int resource_;
  DialogController& controller_;
  std::string title_;
  std::map<int, Control> controls_;
  std::map<int, std::vector<std::string>> history_;
  bool ended_ = false;
  int code_ = 0;
  bool close_posted_ = false;
  std::string save_answer_;
  std::vector<FileRequest> file_requests_;
};

// Answers dialogs from scripts. A script is a list of steps run in order while the dialog is
// up; between steps the idle function runs (the frames a modal loop keeps stepping). A
// dialog still up after its last step gets idle turns until it ends or the turn limit
// passes, then it is closed.
class ScriptedDialogs {
 public:
  using Step = std::function<void(ScriptedView&)>;
  using Script = std::vector<Step>;

  ScriptedDialogs();  // installs itself as the runner
  ~ScriptedDialogs();

  // The script for the next dialog of this resource (queued per resource).
  void add(int resource, Script script);
  void set_idle(std::function<void()> idle) { idle_ = std::move(idle); }
  void set_idle_limit(int turns) { idle_limit_ = turns; }

  // A step that runs idle turns until pred holds (or the limit passes).
  Step wait_until(std::function<bool(ScriptedView&)> pred, int turns = 2000);

  // Every dialog opened, in order of opening (kept after they ended).
  const std::vector<std::shared_ptr<ScriptedView>>& opened() const { return opened_; }
  // The dialogs up now, innermost last.
  const std::vector<ScriptedView*>& open() const { return open_; }
  void idle_turn();

 private:
  static int run(int resource, DialogController& controller);
  int run_one(int resource, DialogController& controller);

  std::map<int, std::deque<Script>> scripts_;
  std::function<void()> idle_;
  int idle_limit_ = 2000;
  std::vector<std::shared_ptr<ScriptedView>> opened_;
  std::vector<ScriptedView*> open_;
};

// Steps of a script as the user takes them: typing into an edit, pressing a control, setting
// a check box.
namespace dialog_steps {
ScriptedDialogs::Step type(int id, std::string text);
ScriptedDialogs::Step press(int id);
ScriptedDialogs::Step check(int id, bool on);
}  // namespace dialog_steps
