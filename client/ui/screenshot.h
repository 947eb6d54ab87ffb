#pragma once
// What the user sees, saved as a picture: the main window when shown, with the splash box
// drawn over its middle while the box is up (alone when the main window is not shown yet).
#include <QImage>

class QtHost;

QImage screenshot_grab(QtHost& host);
bool screenshot_save(QtHost& host, const char* path);
