#include "client/ui/web_pane.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <QCoreApplication>

#include "client/core/log.h"
#include "client/shell/web.h"
#include "client/ui/qt_host.h"
#include "client/ui/web_log.h"
#include "platform/clock.h"

#if TESSEL_WEBENGINE
#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

QtHost* pane_host = nullptr;

std::string url_bytes(const QUrl& url) { return url.toEncoded().toStdString(); }

// How long after the person's click or key a link the page follows counts as theirs: the
// engine reports a script's navigation as a followed link too, and only the input tells them
// apart. Generous for a loaded machine, short beside a script that waits for any click. A
// click follows only the link under the pointer, so a script that waits for a click anywhere
// cannot send the person elsewhere. Measured on the program's clock.
constexpr int32_t kPersonActedMs = 3000;

class QtWebPage : public QWebEnginePage {
 public:
  explicit QtWebPage(QObject* parent) : QWebEnginePage(parent) {
    // A local page (help) reads no other file and nothing remote by script; a page from the
    // network reads no file at all. Other schemes are the web module's to hand out, never the
    // engine's.
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    connect(this, &QWebEnginePage::linkHovered, this, [this](const QString& url) { hovered_ = QUrl(url); });
  }
  // The person clicked in the view, or pressed a key that follows the focused link.
  void person_clicked() { person_acted(true); }
  void person_pressed_key() { person_acted(false); }
  // The link under the pointer, as the page last reported it (empty off links).
  const QUrl& hovered() const { return hovered_; }

 protected:
  // What a page's scripts write on their console is the page's business: the trace log's, not
  // the terminal's.
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override {
    if (!trace_switches[TRACE_GENERAL]) return;
    log_write("web page (%d): %s(%d): %s", static_cast<int>(level), source.toUtf8().constData(), line,
              message.toUtf8().constData());
  }
  // Every navigation, typed or followed, in the page or a frame of it, asks the web module,
  // saying who started it. A main frame's navigation spends the person's last input.
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool main_frame) override {
    int code = WEB_BEFORE_FRAME_NAVIGATE;
    if (main_frame) {
      bool acted = acted_ && tick_diff(acted_at_, platform_ticks()) < kPersonActedMs && (!by_click_ || url == hovered_);
      acted_ = false;
      if (type == NavigationTypeTyped || type == NavigationTypeBackForward || type == NavigationTypeReload)
        code = WEB_BEFORE_NAVIGATE;
      else if (type == NavigationTypeLinkClicked && acted)
        code = WEB_BEFORE_CLICKED_NAVIGATE;
      else
        code = WEB_BEFORE_PAGE_NAVIGATE;
    }
    std::string u = url_bytes(url);
    if (u.size() >= WEB_URL_MAX) u.resize(WEB_URL_MAX - 1);
    if (!web_event(code, u.c_str())) return false;
    // A local page may reach no other file, so the engine would refuse a help page's link to
    // the next help page once the web module took it: the program opens that page itself, as
    // it opened the first.
    if (main_frame && code != WEB_BEFORE_NAVIGATE && web_address(u.c_str()) == WEB_ADDRESS_HELP) {
      QMetaObject::invokeMethod(this, [this, url] { load(url); }, Qt::QueuedConnection);
      return false;
    }
    return true;
  }

 private:
  void person_acted(bool by_click) {
    acted_ = true;
    acted_at_ = platform_ticks();
    by_click_ = by_click;
  }
  bool acted_ = false;  // the person's input since the last navigation of the page
  uint32_t acted_at_ = 0;
  bool by_click_ = false;
  QUrl hovered_;
};

class QtWebPane;
class QtWebFrame;
QPointer<QtWebPane> current_pane;
QPointer<QtWebFrame> current_frame;

// The pane's place in the main window. The view lives in a window of its own (a widget
// without a parent) that a window container shows here: it draws through OpenGL, and as a
// child of the main window (or of any widget in it) it would have every change of the main
// window composed through OpenGL; the 3D view's frames, at the screen's rate, then cost most
// of a core where OpenGL runs in software (a display server without a GPU).
class QtWebHolder : public QWidget {
 public:
  QtWebHolder() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  // Its window, without the native child windows winId() would give the main window's other
  // children.
  void make() { create(); }
};

class QtWebFrame : public QWidget {
 public:
  explicit QtWebFrame(QWidget* main) : QWidget(main), holder_(new QtWebHolder) {
    setObjectName("Veldara Web Frame");
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    hide();
  }
  QWidget* holder() const { return holder_; }
  // The view's window is made once the view is in it: made earlier, it would be made again
  // when the view's OpenGL part comes, outside the container.
  void hold(QWidget* view) {
    holder_->layout()->addWidget(view);
    holder_->make();
    layout()->addWidget(QWidget::createWindowContainer(holder_->windowHandle(), this));
  }
  // The view goes before the container, which would delete the view's window under it.
  ~QtWebFrame() override { delete holder_.data(); }

 protected:
  // The container places the window; its widget takes the size here.
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (holder_) holder_->resize(size());
  }

 private:
  QPointer<QtWebHolder> holder_;
};

class QtWebPane : public QWebEngineView, public WebContainer {
 public:
  explicit QtWebPane(QtWebFrame* frame) : QWebEngineView(frame->holder()), frame_(frame) {
    setObjectName("Veldara Web Browser");
    setWindowTitle("Veldara Web Browser");
    // An empty page first, so that the view's OpenGL part exists when its window is made.
    setHtml(QString());
    setPage(page_ = new QtWebPage(this));
    // The person's input reaches the engine's own widget inside the view.
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool loaded) {
      std::string u = url_bytes(url());
      if (u.size() >= WEB_URL_MAX) u.resize(WEB_URL_MAX - 1);
      web_event(loaded ? WEB_NAVIGATE_COMPLETE : WEB_NAVIGATE_FAILED, u.c_str());
    });
    frame_->hold(this);
    current_pane = this;
  }
  ~QtWebPane() override {
    web_container_destroyed(this);
    if (frame_) frame_->deleteLater();
  }

  // The web module checked the address and gives it encoded.
  void navigate(const char* address) override { load(QUrl::fromEncoded(QByteArray(address), QUrl::StrictMode)); }
  int command(int code) override {
    switch (code) {
      case WEB_GO_BACK: triggerPageAction(QWebEnginePage::Back); return 1;
      case WEB_GO_FORWARD: triggerPageAction(QWebEnginePage::Forward); return 1;
      case WEB_REFRESH: triggerPageAction(QWebEnginePage::Reload); return 1;
      case WEB_STOP: triggerPageAction(QWebEnginePage::Stop); return 1;
      default: return 0;
    }
  }
  void move(int x, int y, int width, int height) override {
    if (frame_) frame_->setGeometry(x, y, width, height);
  }
  void show(bool shown) override {
    if (frame_) frame_->setVisible(shown);
    setVisible(shown);
  }
  void redraw() override { update(); }

 protected:
  void childEvent(QChildEvent* event) override {
    QWebEngineView::childEvent(event);
    if (event->added() && event->child()->isWidgetType()) event->child()->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease) {
      if (page_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) page_->person_clicked();
    } else if (event->type() == QEvent::KeyPress) {
      // Space types and scrolls; only Return and Enter follow a focused link.
      int key = static_cast<QKeyEvent*>(event)->key();
      if (page_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) page_->person_pressed_key();
    }
    return QWebEngineView::eventFilter(watched, event);
  }

 private:
  QPointer<QtWebFrame> frame_;
  QPointer<QtWebPage> page_;
};

WebContainer* make_pane() {
  QWidget* main = pane_host ? pane_host->main_widget() : nullptr;
  if (!main) return nullptr;
  current_frame = new QtWebFrame(main);
  return new QtWebPane(current_frame);  // goes with the main window, or before it
}

}  // namespace

int web_pane_available() { return 1; }

QWidget* web_pane_widget() { return current_pane.data(); }

std::string web_pane_hovered_link() {
  auto* page = current_pane ? dynamic_cast<QtWebPage*>(current_pane->page()) : nullptr;
  return page ? url_bytes(page->hovered()) : std::string();
}

void web_pane_qt_release() { delete current_frame.data(); }

void web_pane_qt_install(QtHost& host) {
  pane_host = &host;
  web_set_container_maker(&make_pane);
}

#else

int web_pane_available() { return 0; }
QWidget* web_pane_widget() { return nullptr; }
std::string web_pane_hovered_link() { return std::string(); }
void web_pane_qt_release() {}
void web_pane_qt_install(QtHost&) {}

#endif

void web_pane_prepare() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#if TESSEL_WEBENGINE
  web_log_capture();
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && std::strcmp(platform, "offscreen") == 0)
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
#endif
}
