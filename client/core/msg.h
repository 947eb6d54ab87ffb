#pragma once
// Numbered message texts from ".tzm" files, and the program's error box.
// Texts come from files, so they are never trusted as printf formats: the safe formatter
// below checks every conversion against the arguments actually passed and their types.
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

enum { MSG_COUNT = 660, MSG_ARG_SIZE = 512 };

// One argument of a checked format.
struct MsgArg {
  enum Kind { INT, UINT, REAL, STR, PTR } kind;
  int bits;           // width of an integer argument (for %u/%x of negative values)
  long long i;
  unsigned long long u;
  double d;
  const char* s;
  const void* p;
};

template <class T>
MsgArg msg_make_arg(T v) {
  MsgArg a{};
  if constexpr (std::is_same_v<std::decay_t<T>, std::nullptr_t>) {
    a.kind = MsgArg::STR;
    a.s = nullptr;
  } else if constexpr (std::is_pointer_v<T> &&
                       (std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, char> ||
                        std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, unsigned char> ||
                        std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, signed char>)) {
    a.kind = MsgArg::STR;  // wire and file texts are byte strings
    a.s = reinterpret_cast<const char*>(v);
  } else if constexpr (std::is_same_v<std::decay_t<T>, std::string>) {
    static_assert(!sizeof(T), "pass .c_str(): the text must outlive the call");
  } else if constexpr (std::is_floating_point_v<T>) {
    a.kind = MsgArg::REAL;
    a.d = static_cast<double>(v);
  } else if constexpr (std::is_enum_v<T>) {
    return msg_make_arg(static_cast<std::underlying_type_t<T>>(v));
  } else if constexpr (std::is_integral_v<T>) {
    a.kind = std::is_signed_v<T> ? MsgArg::INT : MsgArg::UINT;
    a.bits = static_cast<int>(sizeof(T) * 8);
    a.i = static_cast<long long>(v);
    a.u = static_cast<unsigned long long>(v);
    if (a.bits < 64) a.u &= (1ull << a.bits) - 1;
  } else if constexpr (std::is_pointer_v<T>) {
    a.kind = MsgArg::PTR;
    a.p = static_cast<const void*>(v);
  } else {
    static_assert(!sizeof(T), "unsupported message argument type");
  }
  return a;
}

// Formats fmt with args into out (always terminated). When fmt has a conversion that has no
// argument, does not fit its argument's type, or is not allowed (%n, '*'), the raw text is
// copied instead. Returns false in that case.
bool msg_format(char* out, size_t size, const char* fmt, const MsgArg* args, int count);

// Text n; "" out of range or before any set is loaded. A number the loaded files give no text
// is shown as its own number (and logged once), so nothing the program labels goes blank.
const char* msg(int n);
// Text n formatted with the arguments into the next of five 512-byte buffers.
const char* msg_arg_v(int n, const MsgArg* args, int count);
template <class... A>
const char* msg_arg(int n, A... args) {
  MsgArg list[sizeof...(A) + 1] = {msg_make_arg(args)...};
  return msg_arg_v(n, list, static_cast<int>(sizeof...(A)));
}
// The same for a value shown every frame (a meter's): traced under the tasks switch alone, as
// the other lines written every frame.
const char* msg_arg_frame_v(int n, const MsgArg* args, int count);
template <class... A>
const char* msg_arg_frame(int n, A... args) {
  MsgArg list[sizeof...(A) + 1] = {msg_make_arg(args)...};
  return msg_arg_frame_v(n, list, static_cast<int>(sizeof...(A)));
}

// Prints "<text title>: <text>" (a null text as empty) through print, nothing when it is
// null, as a line of at most size - 1 bytes: a module speaking on the console under its name.
using msg_print_fn = void (*)(int kind, const char* line);
void msg_print_titled(msg_print_fn print, int kind, int title, const char* text, size_t size = 512);

// Sets text n (0 <= n < MSG_COUNT) from a program of our own that has no message file.
void msg_set(int n, const char* text);
// Loads the set's file over the table: 1 when a file with numbered texts was read, 0 when
// none opened or none held a numbered text (the table is then left as it was).
int msg_load(const char* name);
// Why the last msg_load that failed read nothing from the set's own file: "<file>: <reason>".
const std::string& msg_load_problem();
// Loads "default" (432 when it cannot), then the set named by [general] messages. 0 on success.
int msg_init();
// Changes the language at run time and refreshes every registered text user.
void msg_switch(const char* name);
// Name of the set loaded last ("" before any).
const char* msg_current();

// Modules whose texts come from the table (menus, dialogs, help topics) register a refresh
// function here; msg_switch calls each in registration order.
using msg_refresh_fn = void (*)();
void msg_add_refresh(msg_refresh_fn fn);
void msg_remove_refresh(msg_refresh_fn fn);

// Formats into the note buffer and shows it in a task-modal error box (caption: message 68).
// Returns the box's answer.
int note_v(const char* fmt, const MsgArg* args, int count);
template <class... A>
int note(const char* fmt, A... args) {
  MsgArg list[sizeof...(A) + 1] = {msg_make_arg(args)...};
  return note_v(fmt, list, static_cast<int>(sizeof...(A)));
}
// True while the note box is up (the frame step does nothing then).
bool note_showing();

// Frees the table, the set name and the refresh list (tests).
void msg_reset();
