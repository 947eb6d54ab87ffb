#pragma once
// The help page's topic tree in the main window: folders and pages as the help module
// fills it; choosing a page or opening a folder is told back to the module.
#include <QTreeWidget>
#include <cstdint>
#include <map>

#include "client/shell/help.h"
#include "client/ui/qt_page_list.h"

class QtHost;

class QtHelpTree : public QTreeWidget, public HelpTreeView {
 public:
  explicit QtHelpTree(QWidget* parent);
  ~QtHelpTree() override;

  void clear() override;
  intptr_t add(intptr_t parent, const char* title, int image) override;
  void set_image(intptr_t item, int image) override;
  intptr_t selected() override;
  void show(bool shown) override;
  void move(int x, int y, int width, int height) override;

  QTreeWidgetItem* item_of(intptr_t handle) const;
  intptr_t handle_of(const QTreeWidgetItem* item) const;
  // The image an item shows now (HelpImage), -1 for none.
  int image_of(intptr_t handle) const;

 protected:
  bool viewportEvent(QEvent* event) override;

 private:
  QtKeyboardReturn keyboard_{this};
  std::map<intptr_t, QTreeWidgetItem*> items_;
  std::map<intptr_t, int> images_;
  intptr_t next_ = 1;
  bool filling_ = false;
};

// The program's help tree is a QtHelpTree in this host's main window. Call before start-up.
void help_tree_qt_install(QtHost& host);
