// The Qt dialog builder under the offscreen platform: a real modal dialog made from the login
// table, driven by clicks and typing, speaking to its controller through control ids.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "client/servers/login.h"
#include "client/ui/login_dialog.h"
#include "client/ui/qt_dialog.h"
#include "tests/support/qt_app.h"

// The font configuration library keeps caches for the life of the process.
namespace {

QApplication* app() { return &testutil::qt_app("qt_dialog_test"); }

struct Recording : DialogController {
  std::vector<int> commands;
  std::string name, password;
  int closes = 0;
  void init(DialogView& v) override {
    v.set_title("Enter as...");
    v.set_text(LOGIN_NAME, "caf\xe9");  // Windows-1252 e acute
    v.limit(LOGIN_NAME, LOGIN_NAME_LIMIT);
    v.limit(LOGIN_PASSWORD, LOGIN_PASSWORD_LIMIT);
    v.set_text(LOGIN_STATUS, "\x80 5");  // the euro sign
    v.check(LOGIN_REMEMBER, true);
  }
  void command(DialogView& v, int id) override {
    commands.push_back(id);
    if (id == DIALOG_OK) {
      name = v.text(LOGIN_NAME, LOGIN_NAME_LIMIT);
      password = v.text(LOGIN_PASSWORD, LOGIN_PASSWORD_LIMIT);
      v.post_close();
    }
    if (id == DIALOG_CANCEL) v.end(407);
  }
  void close(DialogView& v) override {
    ++closes;
    v.end(0);
  }
};

template <class T>
T* control(int id) {
  QWidget* d = QApplication::activeModalWidget();
  return d ? d->findChild<T*>(QString::number(id)) : nullptr;
}

TEST(QtDialogTest, LoginTableMakesAWorkingModalDialog) {
  app();
  login_dialogs_register();
  qt_dialog_install();
  Recording r;
  QString title, status, shown_name;
  bool remember = false, dots = false;
  QTimer::singleShot(50, [&] {
    QWidget* d = QApplication::activeModalWidget();
    ASSERT_NE(nullptr, d);
    title = d->windowTitle();
    shown_name = control<QLineEdit>(LOGIN_NAME)->text();
    status = control<QLabel>(LOGIN_STATUS)->text();
    remember = control<QCheckBox>(LOGIN_REMEMBER)->isChecked();
    dots = control<QLineEdit>(LOGIN_PASSWORD)->echoMode() == QLineEdit::Password;
    control<QLineEdit>(LOGIN_NAME)->setText(QString::fromUtf8("ABCDEFGHIJKLMNOPQRS"));  // over the limit
    control<QLineEdit>(LOGIN_PASSWORD)->setText("pw");
    control<QPushButton>(DIALOG_OK)->click();
  });
  int code = dialog_run(LOGIN_DIALOG, r);
  EXPECT_EQ(0, code);
  EXPECT_EQ(1, r.closes);
  EXPECT_EQ(std::vector<int>{DIALOG_OK}, r.commands);
  EXPECT_EQ("Enter as...", title.toStdString());
  EXPECT_EQ(QString::fromUtf8("caf\u00e9"), shown_name);
  EXPECT_EQ(QString::fromUtf8("\u20ac 5"), status);
  EXPECT_TRUE(remember);
  EXPECT_TRUE(dots);
  EXPECT_EQ("ABCDEFGHIJKLMNOP", r.name);  // the edit's limit held
  EXPECT_EQ("pw", r.password);
}

TEST(QtDialogTest, EscapeIsTheCancelButton) {
  app();
  login_dialogs_register();
  qt_dialog_install();
  Recording r;
  QTimer::singleShot(50, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  EXPECT_EQ(407, dialog_run(LOGIN_DIALOG, r));
  EXPECT_EQ(std::vector<int>{DIALOG_CANCEL}, r.commands);
  EXPECT_EQ(DIALOG_NO_VIEW, dialog_run(999, r));
}

TEST(QtDialogTest, TextsConvertBetweenTheCodePageAndUnicode) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string back = qt_to_bytes(qt_from_bytes(all.c_str()));
  ASSERT_EQ(all.size(), back.size());
  for (size_t i = 0; i < all.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(all[i]);
    // The five unassigned codes come back as '?'.
    bool unassigned = c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    EXPECT_EQ(unassigned ? '?' : all[i], back[i]) << static_cast<int>(c);
  }
}

}  // namespace
