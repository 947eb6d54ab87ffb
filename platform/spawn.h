#pragma once
#include <spawn.h>

// Starting another program, as the desktop's "run this command line" did: the line is split
// at blanks (double quotes keep blanks inside a word), and the program runs detached in a
// session of its own.

// 0 when it was started, else an errno value (ENOENT when the program is not there).
int platform_spawn_detached(const char* command_line);

// What every program started here gets of this process's descriptors: standard input and
// output as they are, the standard error below, and nothing from 3 up (the web engine's
// sockets, shared memory and watches would keep its processes alive with the program's).
// 0 or an errno value.
int platform_spawn_descriptors(posix_spawn_file_actions_t* actions);

// The standard error a started program gets when this process's own is not the terminal (the
// Qt layer reads the web engine's lines off it); -1, the default, passes this process's own.
void platform_set_child_stderr(int fd);
int platform_child_stderr();
