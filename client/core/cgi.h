#pragma once
// The command-file hand-off: a second start of the program passes its command line (the path
// of a command file) to the running instance, whose first line may name a start-up teleport.
#include <string>

// Second start: brings the running instance to the front and hands it the command line.
// False (errno set) when the running instance did not take it: ENAMETOOLONG when the command
// file's full path (given back in handed) does not fit the transfer buffer.
bool cgi_send_command(const char* command_line, std::string* handed = nullptr);
// First start: reads a given command file, then listens for hand-offs. Returns 0.
int cgi_init(const char* command_line);
// Takes waiting hand-offs (the loop calls this when the listening socket is readable).
void cgi_poll();
void cgi_term();
// Reads the command file named by text, when it is a regular file: a first line that begins
// with "teleport" (any case), cut at its first ',', becomes the pending teleport command.
void load_command(const char* text);
// The pending teleport command, or nullptr.
const char* cgi_get_teleport();
void cgi_clear_teleport();
