#pragma once
// The one way a file of the program's (its folder, the cache) is opened: never through a link
// planted at its name, never waiting on a FIFO or a device, and only when it is a regular file.
// The client reaches it through client/core/files.h; the libraries that link only the platform
// (the animation engine, the model parser) call it here.
#include <cstdint>
#include <string>

// flags: O_RDONLY, or O_WRONLY/O_RDWR with O_CREAT (made 0600), O_APPEND, O_TRUNC (applied only
// once the file is known to be a regular one). limit: the most bytes the kind may hold (-1: no
// bound). The descriptor blocks as usual once open. -1 with errno when refused: ELOOP a link,
// EISDIR a folder, EINVAL a FIFO, device or socket, EFBIG past the limit; why says it in words.
int platform_open_regular(const char* path, int flags, int64_t limit = -1, std::string* why = nullptr);
// True for the errors above: something stands at the name that is not a file to be used.
bool platform_refused(int err);
// The whole file (at most limit bytes) into data; false with errno and why as above.
bool platform_read_regular(const char* path, int64_t limit, std::string* data, std::string* why = nullptr);
