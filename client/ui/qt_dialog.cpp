#include "client/ui/qt_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QFontMetricsF>
#include <cmath>
#include <map>
#include <vector>

#include "client/core/msg.h"
#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_host.h"
#include "client/ui/text.h"
#include "platform/host.h"

namespace {

// The font the tables were laid out for: letters 6 pixels wide on average, lines 13 high.
constexpr double kTableLetterWidth = 6.0;
constexpr double kTableLineHeight = 13.0;

std::vector<const qt_dialog_template*>& tables() {
  static std::vector<const qt_dialog_template*> t;
  return t;
}
QPointer<QWidget> default_parent;

class QtDialogView;

class TableDialog : public QDialog {
 public:
  explicit TableDialog(QWidget* parent) : QDialog(parent) {}
  QtDialogView* view = nullptr;
  void reject() override;
  void closeEvent(QCloseEvent* e) override;
};

class QtDialogView : public DialogView {
 public:
  QtDialogView(const qt_dialog_template& t, DialogController& c, QWidget* parent)
      : controller_(c), dialog_(parent) {
    dialog_.view = this;
    dialog_.setModal(true);
    dialog_.setObjectName(QString("dialog %1").arg(t.resource));
    dialog_.setFont(qt_dialog_font());
    dialog_.setFixedSize(qt_dialog_rect(dialog_.font(), 0, 0, t.width, t.height).size());
    for (size_t i = 0; i < t.count; ++i) make(t.controls[i]);
  }

  int run() {
    // What the controls report while the table is being built is not the user's doing.
    started_ = true;
    controller_.init(*this);
    if (ended_) return code_;
    select_first_edit();
    return dialog_.exec();
  }

  // The control the dialog opens with is its first that takes the keyboard; an edit there has
  // its text selected, so that what is typed replaces it.
  void select_first_edit() {
    for (QWidget* w = dialog_.nextInFocusChain(); w && w != &dialog_; w = w->nextInFocusChain()) {
      if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisibleTo(&dialog_)) continue;
      if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
      }
      return;
    }
  }

  void set_title(const char* text) override {
    dialog_.setWindowTitle(text_to_qt_shown(text, true, TextUnassigned::Question));
  }
  void set_text(int id, const char* text) override {
    QWidget* w = find(id);
    QString s = qt_from_bytes(text);
    if (w && w->property("swatch").toBool()) {
      // The colour itself, filled and outlined.
      w->setProperty("colour", s);
      w->setStyleSheet(QString("background-color: %1; border: 1px solid %1;").arg(s));
    } else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text_to_qt_shown(text, false, TextUnassigned::Question));
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(s);
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) m->setPlainText(s);
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(s);
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(s);
    else if (auto* n = qobject_cast<QSpinBox*>(w)) {
      QSignalBlocker quiet(n);
      n->setValue(s.toInt());
    }
  }
  std::string text(int id, size_t max) override {
    QWidget* w = find(id);
    std::string s;
    if (w && w->property("swatch").toBool()) s = qt_to_bytes(w->property("colour").toString());
    else if (auto* l = qobject_cast<QLabel*>(w)) s = qt_to_bytes(l->text());
    else if (auto* e = qobject_cast<QLineEdit*>(w)) s = qt_to_bytes(e->text());
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) s = qt_to_bytes(m->toPlainText());
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) s = qt_to_bytes(b->text());
    else if (auto* n = qobject_cast<QSpinBox*>(w)) s = qt_to_bytes(n->cleanText());
    else if (auto* c = qobject_cast<QComboBox*>(w)) s = qt_to_bytes(c->currentText());
    if (s.size() > max) s.resize(max);
    return s;
  }
  void limit(int id, size_t max) override {
    if (auto* e = qobject_cast<QLineEdit*>(find(id))) e->setMaxLength(static_cast<int>(max));
  }
  void enable(int id, bool on) override {
    if (QWidget* w = find(id)) w->setEnabled(on);
  }
  void show(int id, bool on) override {
    if (QWidget* w = find(id)) w->setVisible(on);
  }
  void check(int id, bool on) override {
    auto* b = qobject_cast<QAbstractButton*>(find(id));
    if (!b) return;
    // An exclusive group refuses to clear its checked button; the controller may.
    QButtonGroup* g = b->group();
    bool exclusive = g && g->exclusive();
    if (exclusive) g->setExclusive(false);
    b->setChecked(on);
    if (exclusive) g->setExclusive(true);
  }
  bool checked(int id) override {
    auto* b = qobject_cast<QAbstractButton*>(find(id));
    return b && b->isChecked();
  }
  void list_clear(int id) override {
    QWidget* w = find(id);
    if (auto* l = qobject_cast<QListWidget*>(w)) l->clear();
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
      QSignalBlocker quiet(c);
      c->clear();
    } else if (qobject_cast<QTabWidget*>(w)) tab_titles_ = 0;
  }
  void list_add(int id, const char* text) override {
    QWidget* w = find(id);
    if (auto* l = qobject_cast<QListWidget*>(w)) l->addItem(qt_from_bytes(text));
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
      QSignalBlocker quiet(c);
      c->addItem(qt_from_bytes(text));
    } else if (auto* t = qobject_cast<QTabWidget*>(w)) {
      page(tab_titles_);
      t->setTabText(tab_titles_++, qt_from_bytes(text));
    }
  }
  void list_select(int id, int index) override {
    QWidget* w = find(id);
    if (auto* l = qobject_cast<QListWidget*>(w)) l->setCurrentRow(index);
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
      QSignalBlocker quiet(c);
      c->setCurrentIndex(index);
    } else if (auto* t = qobject_cast<QTabWidget*>(w)) {
      QSignalBlocker quiet(t);
      t->setCurrentIndex(index);
    }
  }
  int list_selection(int id) override {
    QWidget* w = find(id);
    if (auto* l = qobject_cast<QListWidget*>(w)) return l->currentRow();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentIndex();
    if (auto* t = qobject_cast<QTabWidget*>(w)) return t->currentIndex();
    return -1;
  }
  void set_range(int id, int low, int high) override {
    if (auto* n = qobject_cast<QSpinBox*>(find(id))) {
      QSignalBlocker quiet(n);
      n->setRange(low, high);
    }
  }
  void set_position(int id, int position) override {
    if (auto* n = qobject_cast<QSpinBox*>(find(id))) {
      QSignalBlocker quiet(n);
      n->setValue(position);
    }
  }
  bool position(int id, int* out) override {
    auto* n = qobject_cast<QSpinBox*>(find(id));
    if (!n) return DialogView::position(id, out);
    if (out) *out = n->value();
    return true;
  }
  bool choose_save_file(const char* title, const char* filter, const char* pattern,
                        const std::string& start, std::string* out) override {
    QString filters = qt_from_bytes(filter) + " (" + qt_from_bytes(pattern) + ")";
    QString chosen = QFileDialog::getSaveFileName(&dialog_, qt_from_bytes(title),
                                                  qt_from_bytes(start.c_str()), filters);
    if (chosen.isEmpty()) return false;
    if (out) *out = qt_to_bytes(chosen);
    return true;
  }
  void end(int code) override {
    if (ended_) return;
    ended_ = true;
    code_ = code;
    dialog_.done(code);
  }
  void post_close() override {
    QPointer<TableDialog> d(&dialog_);
    QMetaObject::invokeMethod(
        &dialog_, [d] {
          if (d && d->view) d->view->closed();
        },
        Qt::QueuedConnection);
  }

  // The close box, Escape (the system's Cancel), or a posted close.
  void closed() {
    if (!ended_) controller_.close(*this);
  }
  void cancel() {
    if (ended_) return;
    if (find(DIALOG_CANCEL)) controller_.command(*this, DIALOG_CANCEL);
    else controller_.close(*this);
  }
  bool ended() const { return ended_; }

 private:
  QWidget* find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
  }

  // Page k of the dialog's page selector, made when first needed.
  QWidget* page(int k) {
    if (!tabs_ || k < 0) return &dialog_;
    while (tabs_->count() <= k) tabs_->addTab(new QWidget, QString());
    return tabs_->widget(k);
  }

  void notify(int id) {
    if (started_ && !ended_) controller_.command(*this, id);
  }
  // A control whose signal, once the dialog has started, is a command.
  template <class Control, class Signal>
  Control* notifying(QWidget* parent, Signal signal, int id) {
    auto* made = new Control(parent);
    QObject::connect(made, signal, &dialog_, [this, id] { notify(id); });
    return made;
  }

  void make(const qt_control& c) {
    QWidget* w = nullptr;
    QWidget* parent = c.page > 0 ? page(c.page - 1) : &dialog_;
    int id = c.id;
    switch (c.kind) {
      case QtControl::Radio: {
        auto* b = notifying<QRadioButton>(parent, &QRadioButton::clicked, id);
        QButtonGroup*& g = groups_[c.group];
        if (!g) g = new QButtonGroup(&dialog_);
        g->addButton(b);
        w = b;
        break;
      }
      case QtControl::Combo: w = notifying<QComboBox>(parent, &QComboBox::activated, id); break;
      case QtControl::Spin:
        w = notifying<QSpinBox>(parent, &QSpinBox::valueChanged, id);
        if (c.group) controls_[c.group] = w;
        break;
      case QtControl::NotifyEdit: w = notifying<QLineEdit>(parent, &QLineEdit::textEdited, id); break;
      case QtControl::Frame: w = new QGroupBox(parent); break;
      case QtControl::Tabs:
        tabs_ = notifying<QTabWidget>(&dialog_, &QTabWidget::currentChanged, id);
        w = tabs_;
        break;
      case QtControl::Label: w = text_label(parent); break;
      case QtControl::Status: {
        auto* l = text_label(parent);
        l->setWordWrap(true);
        w = l;
        break;
      }
      case QtControl::Edit: w = new QLineEdit(parent); break;
      case QtControl::Password: {
        auto* e = new QLineEdit(parent);
        e->setEchoMode(QLineEdit::Password);
        w = e;
        break;
      }
      case QtControl::Button:
      case QtControl::DefaultButton: {
        auto* b = new QPushButton(parent);
        b->setAutoDefault(false);
        b->setDefault(c.kind == QtControl::DefaultButton);
        QObject::connect(b, &QPushButton::clicked, &dialog_, [this, id] {
          if (!ended_) controller_.command(*this, id);
        });
        w = b;
        break;
      }
      case QtControl::Check: {
        auto* b = new QCheckBox(parent);
        QObject::connect(b, &QCheckBox::clicked, &dialog_, [this, id] {
          if (!ended_) controller_.command(*this, id);
        });
        w = b;
        break;
      }
      case QtControl::List: w = new QListWidget(parent); break;
      case QtControl::MultiEdit: w = new QPlainTextEdit(parent); break;
      case QtControl::Swatch: {
        auto* f = new QLabel(parent);
        f->setProperty("swatch", true);
        w = f;
        break;
      }
    }
    // A control the table gives no room is not shown: its text would be nowhere.
    if (c.width <= 0 || c.height <= 0) w->hide();
    w->setObjectName(QString::number(c.id));
    w->setGeometry(qt_dialog_rect(dialog_.font(), c.x, c.y, c.width, c.height));
    // The standard buttons carry their words from the start, as the system's own do; a
    // controller may word them otherwise.
    if (auto* b = qobject_cast<QPushButton*>(w); b && (c.id == DIALOG_OK || c.id == DIALOG_CANCEL))
      b->setText(qt_from_bytes(msg(c.id == DIALOG_OK ? 136 : 137)));
    controls_[c.id] = w;
  }

  DialogController& controller_;
  TableDialog dialog_;
  std::map<int, QWidget*> controls_;
  std::map<int, QButtonGroup*> groups_;
  QTabWidget* tabs_ = nullptr;
  int tab_titles_ = 0;
  bool started_ = false;
  bool ended_ = false;
  int code_ = 0;
};

void TableDialog::reject() {
  if (view) view->cancel();
}

void TableDialog::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (view) view->closed();
}

int run_registered(int resource, DialogController& controller) {
  for (const qt_dialog_template* t : tables())
    if (t->resource == resource)
      return qt_dialog_run(t, controller, default_parent ? default_parent.data() : qt_dialog_parent());
  return DIALOG_NO_VIEW;
}

}  // namespace

QFont qt_dialog_font() {
  if (const ui_font* f = font_normal()) return qt_font(f);
  QFont f("Arial");
  f.setPixelSize(11);
  return f;
}

QRect qt_dialog_rect(const QFont& font, int x, int y, int width, int height) {
  // Letters measured as the system measures its dialog font: the mean of the 52 letters.
  static const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  QFontMetricsF m(font);
  double ux = m.horizontalAdvance(letters) / letters.size() / kTableLetterWidth;
  double uy = m.height() / kTableLineHeight;
  // Below the table's own font nothing shrinks: the tables' gaps are already the least.
  ux = std::max(ux, 1.0);
  uy = std::max(uy, 1.0);
  auto at = [](int v, double u) { return static_cast<int>(std::lround(v * u)); };
  int left = at(x, ux), top = at(y, uy);
  return QRect(left, top, at(x + width, ux) - left, at(y + height, uy) - top);
}

void qt_dialog_register(const qt_dialog_template* table) {
  if (!table) return;
  for (auto& t : tables()) {
    if (t->resource == table->resource) {
      t = table;
      return;
    }
  }
  tables().push_back(table);
}

// Qt centres a dialog over its parent, with a window manager or without one.
QWidget* qt_dialog_parent() {
  auto* qt = dynamic_cast<QtHost*>(host());
  return qt ? qt->dialog_parent() : QApplication::activeModalWidget();
}

std::vector<int> qt_dialog_resources() {
  std::vector<int> r;
  for (const qt_dialog_template* t : tables()) r.push_back(t->resource);
  return r;
}

void qt_dialog_install(QWidget* parent) {
  default_parent = parent;
  dialog_set_runner(run_registered);
}

int qt_dialog_run(const qt_dialog_template* table, DialogController& controller, QWidget* parent) {
  if (!table) return DIALOG_NO_VIEW;
  QtDialogView view(*table, controller, parent);
  int code = view.run();
  return code;
}

QString qt_from_bytes(const char* text) { return text_to_qt(text, TextUnassigned::Question); }

std::string qt_to_bytes(const QString& text) { return text_from_qt(text, TextUnassigned::Question); }
