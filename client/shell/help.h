#pragma once
// The help page of the tab control: a tree of help topics read from "help/<set>.tzh" in the
// program directory (<set> the loaded message set; "help/default.tzh" when that file is
// missing). Folders group pages; choosing a page opens its link in the web pane: a local
// file below "help/" when it exists, else the page of that name below the help path on the
// service's web host ([web] host, [web] help_path). Two entries feed the Help menu: help with
// help (148) and help with registration (142). Window thread only.
//
// Topic file lines (at most 256 bytes; longer lines are cut): words separated by white space,
// a word in double quotes taken as written, a bare word lower-cased. By the first word:
// "topic" title opens a folder (at most HELP_DEPTH deep), "endtopic" closes it,
// "help_with_help" / "help_with_registration" title link are remembered pages, any other
// word is a page's title followed by its link. Pages outside every folder, lines short of
// words, folders deeper than the table and end markers with no folder open are refused.
#include <cstdint>

enum { HELP_DEPTH = 10, HELP_LINE = 256 };
enum HelpImage { HELP_IMAGE_FOLDER = 0, HELP_IMAGE_PAGE = 1, HELP_IMAGE_OPEN = 2 };

// The tree in the main window; items are the view's own non-zero handles.
class HelpTreeView {
 public:
  virtual ~HelpTreeView();
  virtual void clear() = 0;
  // Appends an item under parent (0: the top level); returns its handle.
  virtual intptr_t add(intptr_t parent, const char* title, int image) = 0;
  virtual void set_image(intptr_t item, int image) = 0;
  virtual intptr_t selected() = 0;  // 0: none
  virtual void show(bool shown) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
};
using help_tree_maker = HelpTreeView* (*)();
void help_set_tree_maker(help_tree_maker maker);
// The view tells the logic when it goes.
void help_tree_destroyed(HelpTreeView* view);

struct help_hooks {
  // Greys or enables menu items 142 and 148.
  void (*menu_enable)(int id, bool enabled);
};
extern help_hooks help_hook;

// Makes the tree (hidden) and loads the topics; reloads them when the language changes.
// Returns 0.
int help_init();
void help_load_topics();
// Opens a link in the web pane (showing it quietly first); message 239 when refused.
void help_open(const char* link);
void help_with_help();     // menu 148
void help_registration();  // menu 142
void help_show();
void help_hide();
void help_size(int x, int y, int width, int height);
// Tree notifications: the selection moved (the tab control passes it on while the help page
// is its current page); an item was expanded or collapsed.
void help_selection_changed();
void help_item_expanded(intptr_t item, bool expanded);
// The page's link of an item, "" for a folder or an unknown item.
const char* help_item_link(intptr_t item);
// The remembered links, "" when the file had none.
const char* help_with_help_link();
const char* help_registration_link();
void help_term();
void help_reset_for_test();
