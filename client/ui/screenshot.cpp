#include "client/ui/screenshot.h"

#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

#include <cstdio>

#include "client/core/files.h"
#include "client/ui/qt_host.h"

QImage screenshot_grab(QtHost& host) {
  QWidget* main = host.main_widget();
  QWidget* about = host.about_widget();
  bool main_shown = main && main->isVisible();
  bool about_shown = about && about->isVisible();
  if (!main_shown && !about_shown) return QImage();
  if (!main_shown) return about->grab().toImage();
  QImage image = main->grab().toImage();
  QPainter p(&image);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || !screenshot_embedded(w)) continue;
    QWindow* top = w->windowHandle();
    while (top->parent()) top = top->parent();
    if (top != main->windowHandle()) continue;
    p.drawImage(main->mapFromGlobal(w->mapToGlobal(QPoint(0, 0))), w->grab().toImage());
  }
  if (about_shown) {
    QImage box = about->grab().toImage();
    p.drawImage((image.width() - box.width()) / 2, (image.height() - box.height()) / 2, box);
  }
  return image;
}

bool screenshot_embedded(const QWidget* window) {
  QWindow* handle = window->isWindow() ? window->windowHandle() : nullptr;
  return handle && handle->parent();
}

// The picture is the person's, as their other files are: 0600 whatever the umask, and never
// written through a link or into a FIFO at its name.
bool screenshot_save(QtHost& host, const char* path) {
  QImage image = screenshot_grab(host);
  QByteArray png;
  QBuffer buffer(&png);
  if (image.isNull() || !path || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) return false;
  FILE* f = file_open_private(path, "wb");
  if (!f) return false;
  const bool wrote = std::fwrite(png.constData(), 1, static_cast<size_t>(png.size()), f) == static_cast<size_t>(png.size());
  return std::fclose(f) == 0 && wrote;
}
