#include "client/ui/web_pane.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <QCoreApplication>

#include "client/shell/web.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"

#if TESSEL_WEBENGINE
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

QtHost* pane_host = nullptr;

std::string url_bytes(const QUrl& url) { return url.toEncoded().toStdString(); }

class QtWebPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;

 protected:
  // Every navigation, typed or followed, in the page or a frame of it, asks the web module.
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool main_frame) override {
    std::string u = url_bytes(url);
    if (u.size() >= WEB_URL_MAX) u.resize(WEB_URL_MAX - 1);
    return web_event(main_frame ? WEB_BEFORE_NAVIGATE : WEB_BEFORE_FRAME_NAVIGATE, u.c_str()) != 0;
  }
};

class QtWebPane : public QWebEngineView, public WebContainer {
 public:
  explicit QtWebPane(QWidget* parent) : QWebEngineView(parent) {
    setObjectName("Veldara Web Browser");
    setWindowTitle("Veldara Web Browser");
    setPage(new QtWebPage(this));
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
      std::string u = url_bytes(url());
      if (u.size() >= WEB_URL_MAX) u.resize(WEB_URL_MAX - 1);
      web_event(WEB_NAVIGATE_COMPLETE, u.c_str());
    });
    hide();
  }
  ~QtWebPane() override { web_container_destroyed(this); }

  void navigate(const char* address) override { load(QUrl::fromUserInput(qt_from_bytes(address))); }
  int command(int code) override {
    switch (code) {
      case WEB_GO_BACK: triggerPageAction(QWebEnginePage::Back); return 1;
      case WEB_GO_FORWARD: triggerPageAction(QWebEnginePage::Forward); return 1;
      case WEB_REFRESH: triggerPageAction(QWebEnginePage::Reload); return 1;
      case WEB_STOP: triggerPageAction(QWebEnginePage::Stop); return 1;
      default: return 0;
    }
  }
  void move(int x, int y, int width, int height) override { setGeometry(x, y, width, height); }
  void show(bool shown) override { setVisible(shown); }
  void redraw() override { update(); }
};

WebContainer* make_pane() {
  QWidget* main = pane_host ? pane_host->main_widget() : nullptr;
  if (!main) return nullptr;
  return new QtWebPane(main);  // the main window owns it
}

}  // namespace

int web_pane_available() { return 1; }

void web_pane_qt_install(QtHost& host) {
  pane_host = &host;
  web_set_container_maker(&make_pane);
}

#else

int web_pane_available() { return 0; }
void web_pane_qt_install(QtHost&) {}

#endif

void web_pane_prepare() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#if TESSEL_WEBENGINE
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && std::strcmp(platform, "offscreen") == 0)
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
#endif
}
