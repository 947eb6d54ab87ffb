#include "client/ui/pdialog_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPointer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <map>

#include "client/core/dialog.h"
#include "client/scene/pdialog.h"
#include "client/shell/toolbar.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/tab_control.h"
#include "client/ui/text.h"

namespace {

QPointer<QWidget> parent_window;

struct control_place {
  int id;
  bool edit;
  int x, y, width, height;
};
// Labels on the left, the four edits and the two texts on the right.
const control_place places[] = {
    {PDIALOG_LABEL_MODEL, false, 8, 8, 96, 22},        {PDIALOG_MODEL, true, 108, 8, 260, 22},
    {PDIALOG_LABEL_DESCRIPTION, false, 8, 36, 96, 22}, {PDIALOG_DESCRIPTION, true, 108, 36, 260, 22},
    {PDIALOG_LABEL_ACTION, false, 8, 64, 96, 22},      {PDIALOG_ACTION, true, 108, 64, 260, 22},
    {PDIALOG_LABEL_OWNER, false, 8, 92, 96, 22},       {PDIALOG_OWNER, true, 108, 92, 100, 22},
    {PDIALOG_LABEL_OWNER_NAME, false, 8, 120, 96, 22}, {PDIALOG_OWNER_NAME, false, 108, 120, 260, 22},
    {PDIALOG_LABEL_BUILD_TIME, false, 8, 148, 96, 22}, {PDIALOG_BUILD_TIME, false, 108, 148, 260, 22},
};
// The toolbar, in order; 0 is a separator.
// The builder's buttons and their pictures in the main toolbar's image set; 0 is a separator.
struct tool_button {
  int id, image;
};
const tool_button toolbar_buttons[] = {{0, 0},   {108, 2}, {109, 3}, {0, 0},   {112, 4},  {113, 5}, {114, 6},
                                       {115, 7}, {110, 8}, {111, 9}, {0, 0}, {116, 10}, {117, 11}};
// The first menu holds the object's commands, the second undo.
const int first_menu[] = {108, 109, 112, 113, 114, 115, 110, 111, 116, 117};

class PropertiesWindow;

class PropertiesView : public DialogView {
 public:
  PropertiesView(PropertiesWindow* w, DialogController& c) : window_(w), controller_(c) {}
  // What the window shows.
  void set_title(const char* text) override;
  void set_text(int id, const char* text) override;
  void show(int id, bool on) override;
  void enable(int id, bool on) override;
  // Its edits.
  std::string text(int id, size_t max) override;
  void limit(int id, size_t max) override;
  // It has no check boxes or lists.
  void check(int, bool) override {}
  bool checked(int) override { return false; }
  void list_clear(int) override {}
  void list_add(int, const char*) override {}
  void list_select(int, int) override {}
  int list_selection(int) override { return -1; }
  void end(int) override {}
  void post_close() override;

  PropertiesWindow* window_;
  DialogController& controller_;
};

class PropertiesWindow : public QWidget {
 public:
  PropertiesWindow(QWidget* parent, DialogController& c)
      : QWidget(parent, Qt::Tool), view(this, c) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QMenuBar(this);
    layout->setMenuBar(bar);
    menus[0] = bar->addMenu(QString());
    menus[1] = bar->addMenu(QString());
    for (int id : first_menu) add_action(menus[0], id);
    add_action(menus[1], 140);
    auto* tools = new QToolBar(this);
    layout->addWidget(tools);
    tools->setIconSize(QSize(16, 16));
    for (const tool_button& b : toolbar_buttons) {
      const int id = b.id;
      if (!id) {
        tools->addSeparator();
        continue;
      }
      char image[32];
      std::snprintf(image, sizeof image, "button%02d.png", b.image);
      QAction* a = tools->addAction(qt_image(image), QString::number(id));
      // The main toolbar's tips serve the builder's buttons too.
      a->setToolTip(qt_from_bytes(toolbar_tooltip(id)));
      connect(a, &QAction::triggered, this, [this, id] { view.controller_.command(view, id); });
      buttons[id] = a;
    }
    setFont(qt_dialog_font());
    auto* body = new QWidget(this);
    body->setFixedSize(qt_dialog_rect(font(), 0, 0, 376, 178).size());
    layout->addWidget(body);
    for (const control_place& p : places) {
      QWidget* w;
      if (p.edit) {
        auto* e = new QLineEdit(body);
        e->installEventFilter(this);
        w = e;
      } else {
        w = text_label(body);
      }
      w->setGeometry(qt_dialog_rect(font(), p.x, p.y, p.width, p.height));
      controls[p.id] = w;
    }
  }

  void add_action(QMenu* menu, int id) {
    QAction* a = menu->addAction(QString());
    connect(a, &QAction::triggered, this, [this, id] { view.controller_.command(view, id); });
    items[id] = a;
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* k = static_cast<QKeyEvent*>(event);
    int control = 0;
    for (auto& [id, w] : controls)
      if (w == watched) control = id;
    bool alt = k->modifiers() & Qt::AltModifier;
    if (alt && k->key() == Qt::Key_D) {
      controls[PDIALOG_DESCRIPTION]->setFocus();
      return true;
    }
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) return pdialog_key(control, 0x0D, alt);
    return QWidget::eventFilter(watched, event);
  }

  void moveEvent(QMoveEvent* e) override {
    QWidget::moveEvent(e);
    if (isVisible()) pdialog_moved(frameGeometry().x(), frameGeometry().y());
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();  // hidden by the controller, never destroyed
    view.controller_.close(view);
  }

  PropertiesView view;
  QMenu* menus[2] = {};
  std::map<int, QWidget*> controls;
  std::map<int, QAction*> items;
  std::map<int, QAction*> buttons;
};

void PropertiesView::set_title(const char* text) {
  window_->setWindowTitle(text_to_qt_shown(text, true, TextUnassigned::Question));
}

void PropertiesView::set_text(int id, const char* text) {
  QString s = qt_from_bytes(text);
  if (id == PDIALOG_MENU_TOP_0 || id == PDIALOG_MENU_TOP_1) {
    window_->menus[id - PDIALOG_MENU_TOP_0]->setTitle(s);
    return;
  }
  if (auto it = window_->items.find(id); it != window_->items.end()) {
    it->second->setText(s);
    return;
  }
  auto it = window_->controls.find(id);
  if (it == window_->controls.end()) return;
  if (auto* l = qobject_cast<QLabel*>(it->second)) l->setText(text_to_qt_shown(text, false, TextUnassigned::Question));
  else if (auto* e = qobject_cast<QLineEdit*>(it->second)) e->setText(s);
}

std::string PropertiesView::text(int id, size_t max) {
  auto it = window_->controls.find(id);
  std::string s;
  if (it != window_->controls.end()) {
    if (auto* l = qobject_cast<QLabel*>(it->second)) s = qt_to_bytes(l->text());
    else if (auto* e = qobject_cast<QLineEdit*>(it->second)) s = qt_to_bytes(e->text());
  }
  if (s.size() > max) s.resize(max);
  return s;
}

void PropertiesView::limit(int id, size_t max) {
  auto it = window_->controls.find(id);
  if (it == window_->controls.end()) return;
  if (auto* e = qobject_cast<QLineEdit*>(it->second)) e->setMaxLength(static_cast<int>(max));
}

void PropertiesView::enable(int id, bool on) {
  if (auto it = window_->items.find(id); it != window_->items.end()) it->second->setEnabled(on);
  if (auto it = window_->controls.find(id); it != window_->controls.end()) it->second->setEnabled(on);
}

void PropertiesView::show(int id, bool on) {
  if (auto it = window_->controls.find(id); it != window_->controls.end()) it->second->setVisible(on);
}

void PropertiesView::post_close() {
  QPointer<PropertiesWindow> w(window_);
  QMetaObject::invokeMethod(
      window_, [w] {
        if (w) w->view.controller_.close(w->view);
      },
      Qt::QueuedConnection);
}

PropertiesWindow* window_of(DialogView* v) { return static_cast<PropertiesView*>(v)->window_; }

const pdialog_window_ops qt_ops = {
    [](DialogController& c) -> DialogView* {
      auto* w = new PropertiesWindow(parent_window, c);
      w->adjustSize();
      return &w->view;
    },
    [](DialogView* v, bool shown) { window_of(v)->setVisible(shown); },
    [](DialogView* v, int x, int y) { window_of(v)->move(x, y); },
    [](DialogView* v, int* width, int* height) {
      QSize s = window_of(v)->frameSize();
      *width = s.width();
      *height = s.height();
    },
    [](DialogView* v, int id, bool on) {
      PropertiesWindow* w = window_of(v);
      if (auto it = w->buttons.find(id); it != w->buttons.end()) it->second->setEnabled(on);
    },
};

}  // namespace

void pdialog_dialogs_register(QWidget* parent) {
  parent_window = parent;
  pdialog_set_window(&qt_ops);
}
