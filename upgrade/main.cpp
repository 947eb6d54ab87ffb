// upgrade <host> <kit> <execute...>: brings tessel up to date from an upgrade kit.
#include <QApplication>

#include <clocale>
#include <string>

#include "platform/progdir.h"
#include "upgrade/upgrade.h"
#include "upgrade/window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  upgrade::QtUpgradeView view;
  return upgrade::upgrade_main(&view, upgrade::upgrade_default_system(), line, platform_program_dir());
}
