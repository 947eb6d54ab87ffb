// Every dialog and every settings page of the program, opened as the program opens them with
// the program's own texts and fonts: each push button shows its text or its icon, each tool
// button has a tip, no label, check box or button text is wider than its control, each caption
// names a control beside or under it, and a choice of one is drawn as radio buttons.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QToolBar>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "client/scene/display.h"
#include "client/scene/pdialog.h"
#include "client/servers/immigrate.h"
#include "client/servers/login.h"
#include "client/servers/privilege.h"
#include "client/servers/signup.h"
#include "client/servers/teleport.h"
#include "client/servers/tourist.h"
#include "client/servers/upgrade.h"
#include "client/shell/features.h"
#include "client/shell/psheet.h"
#include "client/shell/telegram.h"
#include "client/ui/depth_dialog.h"
#include "client/ui/immigrate_dialog.h"
#include "client/ui/login_dialog.h"
#include "client/ui/pdialog_dialog.h"
#include "client/ui/privilege_dialog.h"
#include "client/ui/prompt_dialog.h"
#include "client/ui/psheet_dialog.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/shell_dialogs.h"
#include "client/ui/signup_dialog.h"
#include "client/ui/upgrade_dialog.h"
#include "tests/shell/shell_fixture.h"

namespace {

// A control's text as the user reads it: the mnemonic marks are not drawn.
QString shown(QString text) { return text.remove(QRegularExpression("&(?!&)")); }

int widest_line(const QFontMetrics& m, const QString& text) {
  int w = 0;
  for (const QString& line : text.split('\n')) w = std::max(w, m.horizontalAdvance(line));
  return w;
}

// What a person would find wrong in one window: one line per fault.
void inspect(QWidget* window, const QString& where, std::vector<std::string>& faults) {
  auto fault = [&](QWidget* w, const QString& what) {
    faults.push_back((where + " control " + w->objectName() + ": " + what).toStdString());
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    QFontMetrics m(w->font());
    if (auto* b = qobject_cast<QToolButton*>(w)) {
      if (!b->defaultAction()) continue;  // the bar's own extension arrow
      if (b->toolTip().isEmpty()) fault(w, "tool button without a tip");
      if (b->icon().isNull()) fault(w, "tool button without an icon");
      continue;
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      if (b->text().isEmpty() && b->icon().isNull()) fault(w, "push button without text or icon");
      // The text within the button's bevel.
      int room = b->width() - 6;
      int need = m.horizontalAdvance(shown(b->text()));
      if (need > room)
        fault(w, QString("button text \"%1\" is %2 wide in %3").arg(b->text()).arg(need).arg(room));
      continue;
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
      auto* b = static_cast<QAbstractButton*>(w);
      QStyleOptionButton opt;
      opt.initFrom(b);
      opt.text = b->text();
      bool check = qobject_cast<QCheckBox*>(w);
      QRect text = b->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
                                              &opt, b);
      int need = m.horizontalAdvance(shown(b->text()));
      if (!b->text().isEmpty() && need > text.width())
        fault(w, QString("\"%1\" is %2 wide in %3").arg(b->text()).arg(need).arg(text.width()));
      continue;
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
      int need = m.horizontalAdvance(shown(g->title()));
      if (need > g->width() - 16) fault(w, QString("frame title \"%1\" is %2 wide in %3").arg(g->title()).arg(need).arg(g->width() - 16));
      continue;
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
      if (l->text().isEmpty() || !l->pixmap().isNull()) continue;
      QRect r = l->contentsRect();
      if (l->wordWrap()) {
        QRect need = m.boundingRect(r, Qt::TextWordWrap | int(l->alignment()), l->text());
        if (need.height() > r.height())
          fault(w, QString("\"%1\" takes %2 lines' height %3 in %4").arg(l->text()).arg(need.height() / m.lineSpacing()).arg(need.height()).arg(r.height()));
      } else {
        int need = widest_line(m, shown(l->text()));
        if (need > r.width()) fault(w, QString("\"%1\" is %2 wide in %3").arg(l->text()).arg(need).arg(r.width()));
      }
    }
  }
}

// A control a caption can name: one the user fills in or chooses with.
bool names_able(QWidget* w) {
  return qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractItemView*>(w) ||
         qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QTextEdit*>(w) ||
         qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QGroupBox*>(w);
}

// Every caption names a control: one on its line (right of it, or just left of it for a unit),
// or one under it, or a row of caption and value under it. Sentences (notes) name nothing.
void inspect_labels(QWidget* window, const QString& where, std::vector<std::string>& faults) {
  constexpr int near = 24, unit_gap = 10;
  auto rect = [&](QWidget* w) { return QRect(w->mapTo(window, QPoint(0, 0)), w->size()); };
  auto shows = [&](QWidget* w) { return w->isVisibleTo(window); };
  auto level = [](const QRect& a, const QRect& b) { return b.top() <= a.bottom() && b.bottom() >= a.top(); };
  auto beside = [&](QLabel* l) {
    QRect r = rect(l);
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (w == l || !shows(w) || w->isAncestorOf(l)) continue;
      QRect c = rect(w);
      if (!level(r, c)) continue;
      bool value = qobject_cast<QLabel*>(w) != nullptr;
      if (!value && !names_able(w)) continue;
      if (c.left() >= r.left() && c.left() - r.right() <= near) return true;
      if (!value && c.right() <= r.left() && r.left() - c.right() <= unit_gap) return true;
    }
    return false;
  };
  for (auto* l : window->findChildren<QLabel*>()) {
    QString text = l->text().trimmed();
    if (!shows(l) || l->wordWrap() || text.isEmpty() || !l->pixmap().isNull()) continue;
    if (text.endsWith('.') || text.endsWith(',') || text.endsWith(';')) continue;
    if (beside(l)) continue;
    QRect r = rect(l);
    bool heads = false;
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (w == l || !shows(w) || w->isAncestorOf(l)) continue;
      QRect c = rect(w);
      bool under = c.left() <= r.right() && c.right() >= r.left() && c.top() >= r.top() + r.height() / 2 &&
                   c.top() - r.bottom() <= near;
      if (!under) continue;
      auto* row = qobject_cast<QLabel*>(w);
      if (row ? beside(row) : names_able(w)) heads = true;
    }
    if (!heads)
      faults.push_back((where + " control " + l->objectName() + ": \"" + l->text() +
                        "\" names no control beside or under it").toStdString());
  }
}

// Check boxes are each the user's own choice: choosing one clears no other.
void inspect_checks(QWidget* window, const QString& where, std::vector<std::string>& faults) {
  QList<QCheckBox*> boxes;
  for (auto* b : window->findChildren<QCheckBox*>())
    if (b->isVisibleTo(window) && b->isEnabled()) boxes.push_back(b);
  for (QCheckBox* b : boxes) {
    if (b->isChecked()) continue;
    std::vector<QCheckBox*> were;
    for (QCheckBox* o : boxes)
      if (o != b && o->isChecked()) were.push_back(o);
    b->click();
    QApplication::processEvents();
    for (QCheckBox* o : were)
      if (!o->isChecked())
        faults.push_back((where + " controls " + b->objectName() + " and " + o->objectName() +
                          ": check boxes that are one choice").toStdString());
  }
}

class DialogsFitTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    // As the entry registers them.
    qt_dialog_install(nullptr);
    depth_dialog_register();
    login_dialogs_register();
    upgrade_dialogs_register();
    prompt_dialogs_register();
    immigrate_dialogs_register();
    privilege_dialogs_register();
    signup_dialogs_register();
    psheet_dialogs_register();
    shell_dialogs_register();
  }
  void TearDown() override {
    pdialog_set_window(nullptr);
    dialog_set_runner(nullptr);
    ShellTest::TearDown();
  }
  // The program with its own message texts.
  void start() {
    install_program("[layout]\nmain_width=960\nmain_height=600\n");
    std::ifstream in(std::string(TESSEL_SOURCE_DIR) + "/data/Messages/default.tzm", std::ios::binary);
    std::stringstream texts;
    texts << in.rdbuf();
    ASSERT_GT(texts.str().size(), 1000u);
    write_file(dir_.file("Messages/default.tzm"), texts.str());
    ASSERT_NE(tessel_init(0, "", 1), 0);
    tessel_set_frame_state(FRAME_START_3D);
    tessel_frame();
    ASSERT_EQ(tessel_frame_state(), FRAME_RUNNING);
    settle();
    pdialog_dialogs_register(main());
  }
  // Opens a modal dialog the way the program does, looks at it (every page of a sheet) and
  // closes it without a controller's say.
  void open(const char* name, const std::function<void()>& opener) {
    bool seen = false, looking = false;
    // Looked for until it shows: an opener may run the loop before its dialog opens.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!d || !d->isVisible() || looking) return;
      looking = true;
      seen = true;
      QString where = QString("%1 (%2)").arg(name, d->objectName());
      opened_.insert(d->objectName().mid(7).toInt());
      if (auto* tabs = d->findChild<QTabWidget*>()) {
        for (int k = 0; k < tabs->count(); ++k) {
          tabs->setCurrentIndex(k);
          QApplication::processEvents();
          inspect(d, where + " page \"" + tabs->tabText(k) + "\"", faults_);
          inspect_labels(d, where + " page \"" + tabs->tabText(k) + "\"", faults_);
        }
      } else {
        inspect(d, where, faults_);
        inspect_labels(d, where, faults_);
        inspect_checks(d, where, faults_);
      }
      // What is typed into the first edit replaces the text it opened with.
      auto* edit = qobject_cast<QLineEdit*>(d->focusWidget());
      if (edit && !edit->text().isEmpty() && edit->selectedText() != edit->text())
        faults_.push_back((where + ": the first edit's text is not selected").toStdString());
      d->done(DIALOG_CANCEL);
      looking = false;
    });
    poll.start();
    opener();
    poll.stop();
    if (!seen) faults_.push_back(std::string(name) + ": no dialog opened");
  }
  std::vector<std::string> faults_;
  std::set<int> opened_;
};

TEST_F(DialogsFitTest, EveryDialogShowsItsTextsWhole) {
  ASSERT_NO_FATAL_FAILURE(start());
  // The dialogs are drawn in Liberation Sans, the program's "Arial".
  EXPECT_EQ(QFontInfo(qt_dialog_font()).family(), "Liberation Sans");

  profile_set_int("display", "depth", 0);
  open("display depth", [] { display_init(); });
  open("login", [] { login(0); });
  open("tourist", [] { tourist_dialog(0); });
  open("sign-up", [] { register_dialog(); });
  open("immigration", [] { immigrate(IMMIGRATE_MODE_NEW); });
  open("citizen attributes", [] { immigrate(IMMIGRATE_MODE_ATTRIBUTES); });
  open("teleport", [] { teleport_dialog("Veldara"); });
  open("privileges", [] { privilege_dialog(); });
  open("upgrade", [] { upgrade_offer(0); });
  open("upgrade running", [] { upgrade_offer(1); });
  open("web address", [this] { command(138); });
  open("remember this place", [this] { command(144); });
  open("telegram", [] { telegram_send_dialog("bob"); });
  open("world features", [] { worldopts_dialog(); });
  open("universe", [] { admin_universe(); });
  open("eject", [] { eject_dialog("bob", 7); });
  open("settings", [] { psheet(); });

  // The object properties window, beside the main window without a modal loop.
  pdialog_show();
  settle();
  for (QToolBar* bar : main()->findChildren<QToolBar*>()) {
    QWidget* w = bar->window();
    if (w == main() || !w->isVisible()) continue;
    opened_.insert(PDIALOG_DIALOG);
    inspect(w, "object properties", faults_);
    // Each of the ten builder's commands has a picture of its own.
    std::set<QByteArray> pictures;
    for (QAction* a : bar->actions()) {
      if (a->isSeparator()) continue;
      QImage image = a->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
      pictures.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    EXPECT_EQ(10u, pictures.size());
  }

  // Every registered dialog was among them.
  for (int resource : qt_dialog_resources())
    if (!opened_.count(resource)) faults_.push_back("dialog " + std::to_string(resource) + " was not opened");
  if (!opened_.count(PDIALOG_DIALOG)) faults_.push_back("the object properties window was not opened");

  std::string list;
  for (const std::string& f : faults_) list += "\n  " + f;
  EXPECT_TRUE(faults_.empty()) << faults_.size() << " faults:" << list;
}

}  // namespace
