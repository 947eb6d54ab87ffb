#pragma once
// What the user sees, saved as a picture: the main window when shown, with the splash box
// drawn over its middle while the box is up (alone when the main window is not shown yet).
// Windows shown inside the main window (the web pane's) are drawn in their place.
#include <QImage>

class QtHost;
class QWidget;

QImage screenshot_grab(QtHost& host);
bool screenshot_save(QtHost& host, const char* path);
// A window shown inside another one: a part of that window's picture, not one of its own.
bool screenshot_embedded(const QWidget* window);
