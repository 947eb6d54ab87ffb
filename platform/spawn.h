#pragma once
// Starting another program, as the desktop's "run this command line" did: the line is split
// at blanks (double quotes keep blanks inside a word), and the program runs detached in a
// session of its own.

// 0 when it was started, else an errno value (ENOENT when the program is not there).
int platform_spawn_detached(const char* command_line);

// The standard error a started program gets when this process's own is not the terminal (the
// Qt layer reads the web engine's lines off it); -1, the default, passes this process's own.
void platform_set_child_stderr(int fd);
int platform_child_stderr();
