#include "client/servers/upgrade.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/servers/about.h"
#include "client/core/dialog.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/net/netcodes.h"
#include "client/servers/login.h"
#include "client/servers/universe.h"
#include "patch/kit.h"
#include "patch/patchw32.h"
#include "platform/host_instance.h"
#include "platform/library.h"
#include "platform/progdir.h"
#include "platform/spawn.h"

#ifndef TESSEL_BUILD_NUMBER
#define TESSEL_BUILD_NUMBER 1
#endif

namespace {

#define TRACE(...) LOG_TRACE(TRACE_GENERAL, __VA_ARGS__)

// The version word pair the program carries: 1.00, and the build number.
constexpr unsigned kVersionWord = 100;
constexpr int kUpgradeTries = 30;
constexpr int kLockWaitMs = 60000;

float version_value = 0;
int build_value = 0;
bool offer = false, mandatory = false, skipped = false;
char command_line[1024];

std::string program_folder() {
  return upgrade_sys.program_folder ? std::string(upgrade_sys.program_folder) : platform_executable_dir();
}

void sleep_default(int ms) { usleep(useconds_t(ms) * 1000); }

// Copies from over to by way of a temporary file beside it, so that a running program or a
// loaded library is replaced, never written into. True when the copy is in place.
bool copy_over(const std::string& from, const std::string& to, mode_t mode) {
  uint8_t* data = nullptr;
  size_t size = 0;
  if (file_read(from.c_str(), &data, &size) != 0) return false;
  std::string temp = to + ".tmp";
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  bool ok = fd >= 0;
  size_t done = 0;
  while (ok && done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += size_t(n);
  }
  std::free(data);
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(temp.c_str(), to.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// An install cut short by a kill is finished or undone by the patch library before anything
// in the folder is used: a mix of two builds would start otherwise.
void settle_interrupted_install(const std::string& dir, const std::string& library_folder) {
  void* library = dlopen((library_folder + PATCH_LIBRARY_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
  auto recover = library ? reinterpret_cast<patch_recover_fn>(dlsym(library, PATCH_RECOVER_SYMBOL)) : nullptr;
  if (recover && recover(dir.c_str()) == PATCH_RECOVER_UNREADABLE)
    log_note("upgrade: %s/%s cannot be read: the last upgrade may not have ended", dir.c_str(), KIT_JOURNAL_FILE);
  if (library) dlclose(library);
}

}  // namespace

upgrade_system upgrade_sys = upgrade_default_system();

namespace {

class OfferDialog : public DialogController {
 public:
  void init(DialogView& v) override {
    static const dialog_label labels[] = {{UPGRADE_OK, 136}, {UPGRADE_SKIP, 152}, {DIALOG_CANCEL, 137}};
    v.set_title(msg(445));
    dialog_apply_labels(v, labels);
    if (mandatory) {
      v.set_text(UPGRADE_TEXT, msg_arg(48, msg(68)));
      v.show(UPGRADE_SKIP, false);
    } else {
      v.set_text(UPGRADE_TEXT, msg_arg(49, msg(68)));
    }
  }
  void command(DialogView& v, int id) override {
    if (id == DIALOG_CANCEL) {
      offer = false;
      v.end(NET_CANCELLED);
    } else if (id == UPGRADE_SKIP) {
      if (mandatory) return;  // hidden: there is nothing to skip
      offer = false;
      skipped = true;
      v.end(0);
    } else if (id == UPGRADE_OK) {
      offer = false;
      int rc = upgrade_sys.start_program ? upgrade_sys.start_program(upgrade_command_line()) : ENOENT;
      // Only a program that was really started ends this one; any failure leaves the dialog
      // with its message and the system's reason, and the program running.
      if (rc == 0) {
        tessel_quit();
        v.end(NET_UPGRADE_QUIT);
        return;
      }
      std::string text = rc == ENOENT ? msg(54) : rc == ENOMEM ? msg(53) : msg_arg(52, rc);
      TRACE("upgrade: %s cannot be started: %s", command_line, std::strerror(rc));
      v.set_text(UPGRADE_TEXT, (text + " (" + std::strerror(rc) + ")").c_str());
    }
  }
};

}  // namespace

upgrade_system upgrade_default_system() {
  return upgrade_system{platform_spawn_detached, sleep_default, "objects.veldara.example", nullptr, nullptr};
}
int version_init() {
  version_value = float(kVersionWord) * 0.01f;
  build_value = TESSEL_BUILD_NUMBER;
  return 0;
}

float version() {
  TRACE("version: %.2f", version_value);
  return version_value;
}

int version_build() {
  TRACE("version_build: %d", build_value);
  return build_value;
}

int upgrade_decide(int own, int minimum, int target, bool skipped) {
  if (own < minimum) return 2;
  if (own >= target || skipped) return 0;
  return 1;
}

void upgrade_check() {
  int target = universe_beta() ? universe_beta_browser() : universe_latest_browser();
  int decision = upgrade_decide(version_build(), universe_minimum_browser(), target, skipped);
  offer = decision != 0;
  mandatory = decision == 2;
}

int upgrade_offered() { return offer ? 1 : 0; }

const char* upgrade_command_line() {
  // [upgrade] host names another object server (a local universe's); else the service's own.
  std::string host = upgrade_sys.object_host ? upgrade_sys.object_host : "";
  const char* configured = settings_text("upgrade", "host");
  if (configured && *configured && !std::strpbrk(configured, " \t\"")) host = configured;
  std::snprintf(command_line, sizeof command_line, "\"%s/upgrade\" %s upgrade/%skit%d.rtp %s",
                program_folder().c_str(), host.c_str(),
                universe_beta() ? "beta/" : "", version_build(), "tessel");
  return command_line;
}

int upgrade_offer(int running) {
  about_hide();
  tessel_background();
  OfferDialog dialog;
  int rc = dialog_run(running ? UPGRADE_DIALOG_RUNNING : UPGRADE_DIALOG, dialog);
  tessel_foreground();
  return rc;
}

int upgrade_init() {
  TRACE("upgrade_init");
  const std::string dir = platform_program_dir();
  const std::string library_folder =
      upgrade_sys.library_folder ? std::string(upgrade_sys.library_folder) + "/" : platform_library_dir();
  settle_interrupted_install(dir, library_folder);
  const std::string fresh = dir + "/upgrade.new";
  if (file_exists(fresh.c_str())) {
    // The upgrade program may still be closing its window.
    for (int waited = 0; waited < kLockWaitMs && host_lock_held(dir.c_str(), "upgrade.lock"); waited += 50)
      if (upgrade_sys.sleep_ms) upgrade_sys.sleep_ms(50);
    std::string program = program_folder() + "/upgrade";
    for (int tries = 1; !copy_over(fresh, program, 0755) && tries < kUpgradeTries; ++tries)
      if (upgrade_sys.sleep_ms) upgrade_sys.sleep_ms(1000);
    file_delete(fresh.c_str());
    const std::string library = dir + "/patchw32.new";
    if (file_exists(library.c_str())) {
      copy_over(library, library_folder + PATCH_LIBRARY_FILE, 0755);
      file_delete(library.c_str());
    }
  }
  login_hook.upgrade_check = upgrade_check;
  login_hook.upgrade_offered = upgrade_offered;
  login_hook.upgrade_offer = upgrade_offer;
  universe_receiver.upgrade_check = upgrade_check;
  universe_receiver.upgrade_offered = upgrade_offered;
  universe_receiver.upgrade_offer = upgrade_offer;
  return 0;
}

void upgrade_reset() {
  offer = mandatory = skipped = false;
  upgrade_sys = upgrade_default_system();
}
