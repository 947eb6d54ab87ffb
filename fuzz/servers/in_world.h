// The whole program under the headless host, logged in to the fake universe and inside the
// fake world, so that bytes a server sends are fuzzed through the connection's own entry and
// with the module state the program has there. The fakes write each input on their own
// connection ("send C HEX"); the program then runs frames as it would.
#pragma once
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/app/frame.h"
#include "client/app/program.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/servers/universe.h"
#include "client/servers/world.h"
#include "platform/clock.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

// The world server's protocol: "new", or "old" (the connection then carries the old object
// protocol and the peer datagram channel is open).
#ifndef FUZZ_WORLD_MODE
#define FUZZ_WORLD_MODE "new"
#endif

// Name lookups run on threads of their own. The C library's resolver keeps each thread's
// name-server addresses until the thread has ended, after the leak check stopped looking at
// that thread: not a leak of the program's.
extern "C" const char* __lsan_default_suppressions() { return "leak:__res_context_send\n"; }

#ifdef FUZZ_DISPATCH_PACE
// A freed block waits in the quarantine until this much has been freed after it. The default
// (256 MB) takes most of a short run to fill, and until then every block comes from pages the
// process has never touched, and the page faults take a tenth of the time. 16 MB still holds
// what many inputs freed. ASAN_OPTIONS wins.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
#endif

// The program keeps what an input gave it (avatars, objects, records) for the inputs after:
// an input's blocks outliving it are the norm here, and libFuzzer's check after each such
// input (run it again, scan the whole heap) would cost more than the input. Leaks are still
// found: the check at exit, after the program has ended in order, fails the run on any block
// nobody holds.
//
// The targets that hand one message to a dispatch (FUZZ_DISPATCH_PACE) run thousands of
// inputs a second, and every input's features are each looked up in libFuzzer's list of rare
// ones: all features seen fewer than the threshold's times, by default 255. Here that list
// holds thousands (the frame and the way back into the world run only now and then, so their
// features stay rare for long), and the look-ups cost more than the input itself. A lower
// threshold keeps the list short; rare features still win an input more energy.
//
// A flag given on the command line wins over these.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<char*> args;
  static char leaks[] = "-detect_leaks=0";
#ifdef FUZZ_DISPATCH_PACE
  static char rare[] = "-entropic_feature_frequency_threshold=16";
  char* defaults[] = {leaks, rare};
#else
  char* defaults[] = {leaks};
#endif
  args.assign(*argv, *argv + *argc);
  for (char* flag : defaults) {
    const size_t name = std::strchr(flag, '=') - flag + 1;
    if (std::none_of(args.begin() + 1, args.end(), [&](const char* a) { return std::strncmp(a, flag, name) == 0; }))
      args.insert(args.begin() + 1, flag);
  }
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size()) - 1;
  *argv = args.data();
  return 0;
}

namespace fuzzworld {

struct Fakes {
  std::unique_ptr<testutil::FakeProcess> universe, world;
  int universe_connection = -1, world_connection = -1;
};

inline std::string source(const char* path) { return std::string(TESSEL_SOURCE_DIR) + "/" + path; }

// Follows the fakes' reports: the newest connection of each is the program's. Every report
// is read as it comes (a fake whose output is not read stops when the pipe fills) and none is
// kept.
inline void follow(Fakes& f) {
  for (auto* p : {&f.universe, &f.world}) {
    for (;;) {
      std::string l = (*p)->line(0);
      if (l.empty()) break;
      if (l.rfind("accept ", 0) == 0) (p == &f.universe ? f.universe_connection : f.world_connection) = std::atoi(l.c_str() + 7);
    }
    (*p)->lines.clear();
  }
}

// The program's clock: the real one, ahead by the retry spacing the program was spared.
inline uint32_t& clock_ahead() {
  static uint32_t ms = 0;
  return ms;
}
inline uint32_t program_clock() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u) +
         clock_ahead();
}

// True while a connection the program lost waits for nothing but its retry spacing: the
// universe one to be made again, or the world one once the universe has let the program in.
inline bool waiting_to_retry() {
  return universe_state() == UNIVERSE_CONNECTING || (world_state() == WORLD_CONNECT && universe_logged_in());
}

// What the program waits on: the universe's and the world's connection states.
inline int connection_states() { return universe_state() * 16 + world_state(); }

// Waits until one of the program's sockets has something to read (a fake's reply, a
// connection's end) or limit_us has passed; true when something came. The sockets are looked
// up in /proc/self/fd again only when the connections' states have changed since (a socket
// is made or closed only on such a change) or one of them has gone. Each descriptor is asked
// for its type (fstat): reading its link would name it, at many times the cost.
inline bool await_program(int limit_us) {
  static std::vector<pollfd> sockets;
  static int found_at = -1;
  if (connection_states() != found_at) {
    found_at = connection_states();
    sockets.clear();
    if (DIR* d = opendir("/proc/self/fd")) {
      while (dirent* e = readdir(d)) {
        struct stat st;
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
          sockets.push_back(pollfd{fd, POLLIN, 0});
      }
      closedir(d);
    }
  }
  timespec limit{0, static_cast<long>(limit_us) * 1000};
  const int ready = ppoll(sockets.data(), sockets.size(), &limit, nullptr);
  for (const pollfd& p : sockets)
    if (p.revents & POLLNVAL) found_at = -1;
  return ready > 0;
}

// One step of waiting for the program, true when it moved: a connection's state changed, a
// retry spacing passed (on the program's clock, at once) or something came on its sockets (a
// fake's reply is waited for there). A whole step is a frame; another only runs the
// connections' own updates in frame order, which is all the way back needs: a frame costs as
// much as many inputs.
inline bool wait_step(Fakes& f, bool whole = true) {
  int states = connection_states();
  bool running = tessel_frame_state() == FRAME_RUNNING && !frame_busy() && !note_showing();
  if (whole || !running) {
    if (tessel_frame_state() <= FRAME_RUNNING) tessel_frame();
  } else {
    world_update();
    universe_update();
  }
  follow(f);
  if (waiting_to_retry()) {
    clock_ahead() += std::max(UNIVERSE_RETRY_INTERVAL, WORLD_RETRY_INTERVAL);
    return true;
  }
  return connection_states() != states || await_program(2000);
}

// Frames for ms of real time, each once something came for the program (or a while passed).
inline void frames(Fakes& f, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    if (tessel_frame_state() <= FRAME_RUNNING) tessel_frame();
    follow(f);
    await_program(1000);
  } while (std::chrono::steady_clock::now() < end);
}

inline bool in_world() { return tessel_frame_state() == FRAME_RUNNING && world_connected(); }

// Starts (or, after the input ended it, starts again) the program and waits for the world.
inline bool enter(Fakes& f, HeadlessHost& host) {
  static testutil::TempDir dir("tessel_fuzz_");
  if (tessel_frame_state() == FRAME_RUNNING) {
    // A connection the input reset comes back by itself after the retry spacing. The first
    // step is a whole frame, so that every task sees the program out of the world, and so is
    // each after a step that found nothing to do.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    bool whole = true;
    while (!in_world() && tessel_frame_state() == FRAME_RUNNING && std::chrono::steady_clock::now() < end)
      whole = !wait_step(f, whole);
    if (in_world()) return true;
  }
  app_reset_for_test();
  host.clear();
  platform_set_program_dir(dir.path());
  // Downloads go to a proxy on the loopback that refuses them. An object server an input
  // names (or the service's default one, which an attributes reply can bring back) would
  // otherwise be looked up in the machine's name service: traffic off the machine, and
  // lookups that outlive the input by seconds, hundreds of threads and sockets at a time.
  std::string ini = "[layout]\nmain_width=320\nmain_height=240\n[display]\ndepth=1\n[universe]\nhost=127.0.0.1\nport=" +
                    std::to_string(f.universe->port()) + "\n[citizen]\nname=fuzz\npassword=fuzz\n[proxy]\naddress=127.0.0.1\nport=9\n";
  testutil::write_file(dir.file("tessel.ini"), ini);
  std::filesystem::create_directories(dir.file("Messages"));
  std::filesystem::copy_file(source("data/Messages/default.tzm"), dir.file("Messages/default.tzm"),
                             std::filesystem::copy_options::overwrite_existing);
  if (!tessel_init(0, "", 1)) return false;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!in_world() && std::chrono::steady_clock::now() < end) wait_step(f);
  if (std::getenv("FUZZ_TRACE"))
    std::fprintf(stderr, "enter: frame state %d, world state %d, universe state %d\n", tessel_frame_state(),
                 world_state(), universe_state());
  return in_world();
}

// The system interpreter starts the fakes fastest; any python3 on the path will do.
inline const char* python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

inline Fakes& fakes(HeadlessHost& host) {
  static Fakes f = [] {
    Fakes n;
    n.world.reset(new testutil::FakeProcess(
        {python(), source("tests/fakes/world.py"), "--json",
         R"({"mode":")" FUZZ_WORLD_MODE R"(","attributes":[[0,"Fuzz World"],[3,"127.0.0.1:9/fuzz"]],)"
         R"("avatars":[{"session":2,"name":"bob","x":0,"y":0,"z":0,"yaw":0,"type":0,"gesture":0}],)"
         R"("cells":[{"x":0,"z":0,"objects":[{"number":1,"owner":1,"time":0,"x":500,"y":0,"z":500,"yaw":0,)"
         R"("model":"tree.vxx","description":"a tree","action":"create sign hello"}]}],"push_cells":true})"},
        10000));
    n.universe.reset(new testutil::FakeProcess(
        {python(), source("tests/fakes/universe.py"), "--citizen", "fuzz:fuzz:7", "--json",
         "{\"attributes\":{\"4\":\"fuzz\"},\"worlds\":[{\"name\":\"fuzz\",\"host\":\"127.0.0.1\",\"port\":" +
             std::to_string(n.world->port()) + "}]}"},
        10000));
    return n;
  }();
  static bool started = [&] {
    // Nobody answers a dialog an input opens: its modal loop ends after a while, as if closed.
    host.set_step_limit(200);
    host_set(&host);
    platform_set_clock(program_clock);
    bool in = enter(f, host);
    // The program ends in order before the fakes go, so nothing it holds is left behind.
    // Registered after the start, so it runs before the statics the start made are destroyed.
    std::atexit([] {
      if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
      app_reset_for_test();
      host_set(nullptr);
    });
    return in;
  }();
  (void)started;
  return f;
}

inline std::string hex(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

// One input written by one fake on the program's connection, then frames as the program runs
// them; the program must still be able to go on (or have ended in order).
inline HeadlessHost& headless() {
  static HeadlessHost host;
  return host;
}

// The program in the world, started or started again as needed; false when it cannot be.
inline bool ready() { return enter(fakes(headless()), headless()); }

inline void feed(bool universe, const uint8_t* data, size_t size) {
  Fakes& f = fakes(headless());
  if (!enter(f, headless())) return;
  if (size == 0 || size > 16384) return;
  int connection = universe ? f.universe_connection : f.world_connection;
  (universe ? f.universe : f.world)->command("send " + std::to_string(connection) + " " + hex(data, size));
  frames(f, 15);
}

}  // namespace fuzzworld
