#include "platform/spawn.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace {
int child_stderr = -1;
}  // namespace

void platform_set_child_stderr(int fd) { child_stderr = fd; }
int platform_child_stderr() { return child_stderr; }

int platform_spawn_descriptors(posix_spawn_file_actions_t* actions) {
  int rc = child_stderr >= 0 ? posix_spawn_file_actions_adddup2(actions, child_stderr, 2) : 0;
  return rc ? rc : posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

int platform_spawn_detached(const char* command_line) {
  if (!command_line) return EINVAL;
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, have_word = false;
  for (const char* p = command_line;; ++p) {
    char c = *p;
    if (c == '"') {
      quoted = !quoted;
      have_word = true;
    } else if (c == 0 || (!quoted && (c == ' ' || c == '\t'))) {
      if (have_word) words.push_back(word);
      word.clear();
      have_word = false;
      if (!c) break;
    } else {
      word += c;
      have_word = true;
    }
  }
  if (words.empty() || words[0].empty()) return ENOENT;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int rc = platform_spawn_descriptors(&actions);
  pid_t pid = 0;
  if (rc == 0) rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc;
}
