#pragma once
// The Host: how logic reaches the window system. The program's Host is Qt-based; tests and
// scripted runs use HeadlessHost. Later parts add the splash box, dialogs, menus, geometry.

// Message box flags: one button set, optionally one icon, optionally task-modal.
enum : unsigned {
  HOST_MB_OK = 0x0000,
  HOST_MB_OKCANCEL = 0x0001,
  HOST_MB_YESNO = 0x0004,
  HOST_MB_BUTTONS = 0x000F,  // mask of the button set
  HOST_MB_ICONERROR = 0x0010,
  HOST_MB_ICONWARNING = 0x0030,
  HOST_MB_ICONINFORMATION = 0x0040,
  HOST_MB_ICONS = 0x00F0,  // mask of the icon
  HOST_MB_TASKMODAL = 0x2000,
};

// Message box answers.
enum : int {
  HOST_IDOK = 1,
  HOST_IDCANCEL = 2,
  HOST_IDYES = 6,
  HOST_IDNO = 7,
};

class Host {
 public:
  virtual ~Host();
  // Shows a box and returns the button pressed (HOST_ID*).
  virtual int message_box(const char* text, const char* caption, unsigned flags) = 0;
  // Asks the loop to end with this code.
  virtual void post_quit(int code) = 0;
};

// The host in use: the one set, or a process-wide HeadlessHost that answers every box with
// its default button and prints it to stderr.
Host* host();
// nullptr goes back to the process-wide HeadlessHost. The caller keeps ownership.
void host_set(Host* h);

// The answer of a box's default (first) button.
int host_default_answer(unsigned flags);
