#pragma once
// The web pane beside the 3D view: the world's home page, help pages and pages the user
// opens. Links to a teleport on the service's own cgi pages are taken over and run as the
// user's own teleport command instead of being followed. Without a browser container (the
// build without WebEngine, or one that cannot start) pages go to the desktop's browser
// (url_open), and pages an object opened on its own wait as the pending address until the
// pane opens. Window thread only.
//
// Settings: [show] web (every value but 0 is on; absent is on); [web] host and other_host,
// the two hosts ("name" or "name:port") whose "/cgi-bin/" teleport links are taken over.
#include <string>

// The container's events: before a navigation (return 0 to cancel it) and after one ended
// (loaded, or failed to load).
// Before a navigation the container says who started it: the program (an address it was
// given, Back, Forward, Refresh), the person (a link they clicked in the page itself), or the
// page (a script, a redirect, a form, a frame). A teleport link acts only for the first two.
// A frame inside the page has only the before event: the page's address and its loading
// state are the main frame's.
enum {
  WEB_BEFORE_NAVIGATE = 100,
  WEB_NAVIGATE_COMPLETE = 101,
  WEB_NAVIGATE_FAILED = 104,
  WEB_BEFORE_CLICKED_NAVIGATE = 102,
  WEB_BEFORE_PAGE_NAVIGATE = 103,
  WEB_BEFORE_FRAME_NAVIGATE = 200,
};
// What an address is to the pane: a web page (http, https with a host), an address for the
// desktop's own handler (news), one of the program's help pages (a file below help/), or
// nothing to follow.
enum WebAddress { WEB_ADDRESS_REFUSED, WEB_ADDRESS_PAGE, WEB_ADDRESS_DESKTOP, WEB_ADDRESS_HELP };
// Container commands.
enum { WEB_GO_BACK = 11, WEB_GO_FORWARD = 12, WEB_REFRESH = 13, WEB_STOP = 14 };
enum { WEB_STATUS_WEIGHT = 26, WEB_URL_MAX = 2058 };

// The browser control in the pane, made by the Qt layer. It reports navigations through
// web_event.
class WebContainer {
 public:
  virtual ~WebContainer();
  virtual void navigate(const char* url) = 0;
  // WEB_GO_BACK .. WEB_STOP; 1 when carried out.
  virtual int command(int code) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
  virtual void show(bool shown) = 0;
  // Redraws the pane (after a page ended loading).
  virtual void redraw() = 0;
};
// Makes the container; null when it cannot. No maker: the build has no container.
using web_container_maker = WebContainer* (*)();
void web_set_container_maker(web_container_maker maker);
// The container tells the logic when it goes (its window was destroyed).
void web_container_destroyed(WebContainer* container);

// Window-set modules the pane reaches; a null entry is skipped.
struct web_hooks {
  // The menu items 130 and 134-138.
  void (*menu_check)(int id, bool checked);
  void (*menu_enable)(int id, bool enabled);
  // Lays the main window out again (the pane came or went).
  void (*relayout)();
  // Toolbar buttons 134-137 (shown, hidden, enabled, disabled).
  void (*toolbar_show_button)(int id);
  void (*toolbar_hide_button)(int id);
  void (*toolbar_enable)(int id);
  void (*toolbar_disable)(int id);
};
extern web_hooks web_hook;

// Makes the pane; opens it when [show] web is on and start-up did not ask for no pane.
// Fills the menu's web entries. A second call does nothing. Returns 1.
int web_init();
// Start-up, once the command line is read: the pane was made by web_init and pages wait as
// the pending address, so nothing is left to start here; the row keeps the start-up order.
void web_start();
// Menu 130: hides a shown pane, else opens it (message 86 unless quiet when the container
// cannot be made) and shows the pending address. Writes [show] web and lays out again.
void web_toggle(int quiet);
// Every address from outside (an object, the world, a page, a typed one) comes here: only a
// web page goes on, a news address goes to the desktop's handler, anything else is refused
// with a console line (message 246) and gives 0. 0 too for an empty address; else 1 (with
// the pane) or, without it, what the hand-off gave: skip_teleport 0 hands the address to the
// desktop's browser, 1 keeps it pending.
int web_navigate(const char* url, int skip_teleport);
// The help page's links: as web_navigate(url, 0), and a file below the program's help/ too.
int web_navigate_help(const char* url);
// What the address is (see WebAddress); into `canonical` (when given) its encoded form,
// which is what goes on to the pane or the desktop.
WebAddress web_address(const char* url, std::string* canonical = nullptr);
// Menu 138: asks for an address (messages 174, 175); a bare host name typed there is taken
// as a web address; then web_navigate(text, 0).
void web_get_url();
// Menus 134-137.
int web_back();
void web_forward();
void web_stop();
void web_refresh();
// From the layout: the pane's place in the main window's client area.
void web_size(int x, int y, int width, int height);
// Task "web": the pane's control takes its own keys and paints itself, so nothing is left to do
// per frame; the row keeps the table's order.
void web_update();
int web_visible();
int web_is_busy();
// The current (or pending) address, "" when none.
const char* web_current_url();
// The container's events (WEB_BEFORE_*, WEB_NAVIGATE_COMPLETE, WEB_NAVIGATE_FAILED); 0 cancels.
// A navigation to anything but a web page is cancelled (help pages may go to other help
// pages); a teleport link runs only when the person clicked it or the program opened it
// without skip_teleport, and is never followed. A page that failed to load is loaded again
// when the download queue hears that its server, one it could not reach, answers again.
int web_event(int code, const char* url);
// The teleport command a link stands for ("teleport <world> <coordinates>"), into out;
// 1 when the link is a taken-over teleport link.
int web_teleport_command(const char* url, char* out, int size);
// The address an object's action text stands for when a click runs no "activate" clause:
// the whole text when it has no blank and does not begin with "sound:". Opens it; 1 when it
// did.
int web_open_action(const char* action);
void web_term();
// Tests: back to the state before web_init (hooks and maker kept).
void web_reset_for_test();
