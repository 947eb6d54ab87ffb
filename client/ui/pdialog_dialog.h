#pragma once
// The object properties dialog's window: a modeless tool window beside the main window with
// the edits and texts of the object being built, a menu and a toolbar of the builder's
// commands. The logic is client/scene/pdialog; this is only its Qt face.
class QWidget;

// Makes the properties dialog open as a Qt window (a child of parent when given).
void pdialog_dialogs_register(QWidget* parent = nullptr);
