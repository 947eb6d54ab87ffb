// The command file, the single-instance lock and the hand-off over the program's socket.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/host_instance.h"
#include "spine_fixture.h"

namespace {
// The address a running instance of the program directory dir listens on.
sockaddr_un address_of(const std::string& dir) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", host_instance_socket(dir.c_str()).c_str());
  return addr;
}

// In a child process: becomes uid and gid 65534; with past_modes it keeps the power to pass
// file modes (CAP_DAC_OVERRIDE), so that only the listener's own check can keep it out.
bool become_nobody(bool past_modes) {
  if (past_modes && prctl(PR_SET_KEEPCAPS, 1) != 0) return false;
  if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
      setresuid(65534, 65534, 65534) != 0)
    return false;
  if (!past_modes) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[2] = {};
  caps[0].permitted = caps[0].effective = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  return syscall(SYS_capset, &header, caps) == 0;
}

int listen_at(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un addr{AF_UNIX, {}};
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) | listen(fd, 4), 0) << path;
  return fd;
}

// What a hand-off from another uid came to (the child's exit code).
enum : int { ANSWERED = 0, HUNG_UP = 1, CANNOT_BECOME_NOBODY = 2, NOT_CONNECTED = 3 };

// Runs a child that, as uid 65534, connects to addr and hands path over.
pid_t hand_off_as_nobody(bool past_modes, const sockaddr_un& addr, const std::string& path) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (!become_nobody(past_modes)) _exit(CANNOT_BECOME_NOBODY);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) _exit(NOT_CONNECTED);
  char buffer[HOST_INSTANCE_TEXT] = {};
  snprintf(buffer, sizeof buffer, "%s", path.c_str());
  (void)!send(fd, buffer, sizeof buffer, MSG_NOSIGNAL);
  pollfd p{fd, POLLIN, 0};
  char ack = 0;
  bool answered = poll(&p, 1, testutil::kWaitMs) == 1 && recv(fd, &ack, 1, 0) == 1 && ack == 1;
  _exit(answered ? ANSWERED : HUNG_UP);
}
}  // namespace

class Command : public Spine {
 protected:
  // Another start hands the command file `path` over while this one's loop runs until a
  // teleport has come; true when the other start's send went through. The loop keeps
  // stopping at a teleport until the test sets another step.
  bool hand_off_until_teleport(const std::string& path, std::string dir = "") {
    if (dir.empty()) dir = dir_.path();
    bool sent = false;
    std::thread second([&] { sent = host_instance_send(dir.c_str(), path.c_str(), 3000); });
    host_.on_step([](long) {
      if (cgi_get_teleport()) tessel_quit();
      usleep(1000);
    });
    host_.set_step_limit(3000);
    host_.run_loop();
    second.join();
    return sent;
  }
};

TEST_F(Command, TeleportLineIsKeptUpToItsFirstComma) {
  write_file(dir_.file("cmd"), "teleport Alpha 10N 20W, extra, more\r\nsecond line\n");
  load_command(dir_.file("cmd").c_str());
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Alpha 10N 20W");
}

TEST_F(Command, CapitalTeleportLineWithoutCommaIsKeptWhole) {
  write_file(dir_.file("cmd"), "TELEPORT Beta 1N 2E 90\n");
  load_command(dir_.file("cmd").c_str());
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "TELEPORT Beta 1N 2E 90");
}

TEST_F(Command, OtherFirstLinesLeaveThePendingCommandAlone) {
  write_file(dir_.file("a"), "teleport Gamma\n");
  load_command(dir_.file("a").c_str());
  for (const char* text : {"tele port Delta\n", "teleporT", "teleporter Zeta", "", "\n",
                           "  teleport Eta\n", "telepor"}) {
    write_file(dir_.file("b"), text);
    load_command(dir_.file("b").c_str());
  }
  // A first line that begins with the eight letters counts, whatever follows them.
  EXPECT_STREQ(cgi_get_teleport(), "teleporter Zeta");
  load_command(dir_.file("missing").c_str());
  load_command("");
  load_command(nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleporter Zeta");
  cgi_clear_teleport();
  EXPECT_EQ(cgi_get_teleport(), nullptr);
}

TEST_F(Command, OverlongFirstLineIsCutSafely) {
  std::string line = "teleport " + std::string(600, 'x') + "\n";
  write_file(dir_.file("long"), line);
  load_command(dir_.file("long").c_str());
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_EQ(std::string(cgi_get_teleport()).size(), 255u);
}

TEST_F(Command, StartUpReadsTheCommandFile) {
  install();
  write_file(dir_.file("start.cmd"), "teleport Home\n");
  ASSERT_TRUE(start(dir_.file("start.cmd").c_str()));
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Home");
}

TEST(Instance, OnlyOneHolderOfTheLock) {
  TempDir dir;
  int a = host_instance_lock(dir.path().c_str());
  ASSERT_GE(a, 0);
  EXPECT_TRUE(host_instance_running(dir.path().c_str()));
  EXPECT_EQ(host_instance_lock(dir.path().c_str()), -1);
  host_instance_unlock(a);
  EXPECT_FALSE(host_instance_running(dir.path().c_str()));
  int b = host_instance_lock(dir.path().c_str());
  EXPECT_GE(b, 0);
  host_instance_unlock(b);
  EXPECT_EQ(host_instance_lock("/nonexistent/dir"), -2);
  // Never created through a link planted at its name.
  std::filesystem::remove(dir.file("tessel.lock"));
  std::filesystem::create_symlink(dir.file("planted"), dir.file("tessel.lock"));
  EXPECT_EQ(host_instance_lock(dir.path().c_str()), -2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("planted")));
}

// A runtime folder of another user is not used, and a second start reaches the socket in the
// folder it checked, though another is put at its name meanwhile.
TEST(Instance, TheSocketIsReachedOnlyInAFolderOfOurOwnThatWasChecked) {
  TempDir runtime, dir;
  ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  if (geteuid() == 0 && chown(runtime.path().c_str(), 65534, 65534) == 0) {
    EXPECT_NE(host_instance_socket(dir.path().c_str()).rfind(runtime.path(), 0), 0u);
    ASSERT_EQ(chown(runtime.path().c_str(), 0, 0), 0);
  }
  const std::filesystem::path socket = host_instance_socket(dir.path().c_str()), folder = socket.parent_path();
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  std::thread second([&] { host_instance_send(dir.path().c_str(), "/mine.cmd", testutil::kWaitMs); });
  EXPECT_TRUE(testutil::poll_until([&] {  // the second start holds the folder open once checked
    std::error_code ec;
    for (auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec))
      if (std::filesystem::read_symlink(fd.path(), ec) == folder) return true;
    return false;
  }));
  std::filesystem::rename(folder, runtime.file("checked"));
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const std::string checked = runtime.file("checked") + "/" + socket.filename().string();
  pollfd both[2] = {{listen_at(socket), POLLIN, 0}, {listen_at(checked), POLLIN, 0}};
  EXPECT_GT(poll(both, 2, testutil::kWaitMs), 0);
  EXPECT_EQ(both[0].revents, 0) << "reached the socket put in its place";
  EXPECT_NE(both[1].revents, 0);
  close(both[0].fd);  // either hang-up ends the send
  close(both[1].fd);
  second.join();
  unsetenv("XDG_RUNTIME_DIR");
}

TEST(Instance, HandOffArrivesWholeAndIsAcknowledged) {
  TempDir dir;
  int fd = host_instance_listen(dir.path().c_str());
  ASSERT_GE(fd, 0);
  bool sent = false;
  // The longest text the buffer holds whole; one byte more is refused.
  const std::string longest = "/" + std::string(HOST_INSTANCE_TEXT - 2, 'x');
  EXPECT_FALSE(host_instance_send(dir.path().c_str(), (longest + "x").c_str(), 2000));
  EXPECT_EQ(errno, ENAMETOOLONG);
  std::thread second([&] { sent = host_instance_send(dir.path().c_str(), longest.c_str(), 2000); });
  char text[HOST_INSTANCE_TEXT];
  host_instance_peer peer{};
  for (int i = 0; i < 400 && !host_instance_accept(fd, &peer); ++i) usleep(5000);
  int got = 0;
  for (int i = 0; i < 400 && got == 0; ++i) {
    got = host_instance_receive(&peer, text, sizeof text, 2000);
    if (!got) usleep(5000);
  }
  host_instance_hang_up(&peer);
  second.join();
  EXPECT_EQ(got, 1);
  EXPECT_EQ(text, longest);
  EXPECT_TRUE(sent);
  host_instance_close(fd, dir.path().c_str());
  // Nobody listening: the hand-off fails within its time-out.
  EXPECT_FALSE(host_instance_send(dir.path().c_str(), "x", 100));
}

TEST(Instance, QuietPeersAreKeptWhileTheirTimeLastsAndUnterminatedTextIsCut) {
  TempDir dir;
  int fd = host_instance_listen(dir.path().c_str());
  ASSERT_GE(fd, 0);
  sockaddr_un addr = address_of(dir.path());
  char text[HOST_INSTANCE_TEXT];
  host_instance_peer peer{};
  // A peer that says a little and goes quiet: kept while its time lasts, then dropped.
  int quiet = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(connect(quiet, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(write(quiet, "abc", 3), 3);
  ASSERT_EQ(host_instance_accept(fd, &peer), 1);
  EXPECT_EQ(host_instance_receive(&peer, text, sizeof text, 60000), 0);
  EXPECT_EQ(peer.got, 3u);
  EXPECT_EQ(host_instance_receive(&peer, text, sizeof text, 0), -1);
  EXPECT_STREQ(text, "");
  host_instance_hang_up(&peer);
  close(quiet);
  // One that ends before its whole buffer is dropped at once.
  int brief = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(connect(brief, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(write(brief, "abc", 3), 3);
  close(brief);
  ASSERT_EQ(host_instance_accept(fd, &peer), 1);
  EXPECT_EQ(host_instance_receive(&peer, text, sizeof text, 60000), -1);
  host_instance_hang_up(&peer);
  // A full buffer without any terminator.
  int full = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(connect(full, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::string bytes(HOST_INSTANCE_TEXT, 'y');
  ASSERT_EQ(write(full, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ASSERT_EQ(host_instance_accept(fd, &peer), 1);
  EXPECT_EQ(host_instance_receive(&peer, text, sizeof text, 60000), 1);
  host_instance_hang_up(&peer);
  EXPECT_EQ(std::string(text), std::string(HOST_INSTANCE_TEXT - 1, 'y'));
  char ack = 0;
  EXPECT_EQ(read(full, &ack, 1), 1);
  EXPECT_EQ(ack, 1);
  close(full);
  EXPECT_EQ(host_instance_accept(fd, &peer), 0);  // nothing pending
  host_instance_close(fd, dir.path().c_str());
}

TEST_F(Command, RunningInstanceTakesAHandOffFromItsLoop) {
  install();
  ASSERT_TRUE(start());
  write_file(dir_.file("later.cmd"), "teleport Later, 1N 1W\n");
  bool sent = hand_off_until_teleport(dir_.file("later.cmd"));
  host_.on_step(nullptr);
  EXPECT_TRUE(sent);
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Later");
  EXPECT_EQ(host_.raise_count(), 1);
  // An empty hand-off only brings the window to the front.
  cgi_clear_teleport();
  std::thread empty([&] { sent = host_instance_send(dir_.path().c_str(), "", 3000); });
  host_.on_step([&](long) {
    if (host_.raise_count() == 2) tessel_quit();
    usleep(1000);
  });
  host_.run_loop();
  empty.join();
  host_.on_step(nullptr);
  EXPECT_EQ(host_.raise_count(), 2);
  EXPECT_EQ(cgi_get_teleport(), nullptr);
}

// A second start whose text comes in pieces neither holds the window up nor loses its text:
// another start's hand-off goes through meanwhile, and the first one's when its rest comes.
TEST_F(Command, APeerSendingInPiecesHoldsNoOtherHandOffUp) {
  install();
  ASSERT_TRUE(start());
  write_file(dir_.file("slow.cmd"), "teleport Slow\n");
  write_file(dir_.file("quick.cmd"), "teleport Quick\n");
  sockaddr_un addr = address_of(dir_.path());
  char buffer[HOST_INSTANCE_TEXT] = {};
  snprintf(buffer, sizeof buffer, "%s", dir_.file("slow.cmd").c_str());
  int slow = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(send(slow, buffer, 10, MSG_NOSIGNAL), 10);
  EXPECT_TRUE(hand_off_until_teleport(dir_.file("quick.cmd")));
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Quick");
  cgi_clear_teleport();
  // The rest of the first text.
  ASSERT_EQ(send(slow, buffer + 10, sizeof buffer - 10, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof buffer - 10));
  host_.run_loop();
  host_.on_step(nullptr);
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Slow");
  char ack = 0;
  EXPECT_EQ(recv(slow, &ack, 1, MSG_DONTWAIT), 1);
  EXPECT_EQ(ack, 1);
  close(slow);
  EXPECT_EQ(host_.raise_count(), 2);
}

// The socket is the person's alone, whatever the umask: a process of another uid cannot reach
// it, and one that gets past the file modes is hung up on unread. The person's own hand-off
// still goes through afterwards.
TEST_F(Command, OnlyThePersonsOwnUidIsAnswered) {
  if (geteuid() != 0) GTEST_SKIP() << "starting a process of another uid needs root";
  install();
  mode_t mask = umask(0);
  bool started = start();
  umask(mask);
  ASSERT_TRUE(started);
  std::string socket_path = host_instance_socket(dir_.path().c_str());
  std::string folder = socket_path.substr(0, socket_path.rfind('/'));
  struct stat st;
  ASSERT_EQ(lstat(socket_path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());

  write_file(dir_.file("other.cmd"), "teleport Elsewhere\n");
  chmod(dir_.path().c_str(), 0755);
  chmod(dir_.file("other.cmd").c_str(), 0644);
  const sockaddr_un addr = address_of(dir_.path());
  for (bool past_modes : {false, true}) {
    SCOPED_TRACE(past_modes ? "past the file modes" : "plain");
    pid_t child = hand_off_as_nobody(past_modes, addr, dir_.file("other.cmd"));
    ASSERT_GT(child, 0);
    int status = 0;
    host_.on_step([&](long) {
      if (waitpid(child, &status, WNOHANG) == child) tessel_quit();
      usleep(1000);
    });
    host_.run_loop();
    host_.on_step(nullptr);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == CANNOT_BECOME_NOBODY) GTEST_SKIP() << "this system forbids changing uid";
    EXPECT_EQ(WEXITSTATUS(status), past_modes ? HUNG_UP : NOT_CONNECTED);
    EXPECT_EQ(cgi_get_teleport(), nullptr);
    EXPECT_EQ(host_.raise_count(), 0);
  }
  write_file(dir_.file("own.cmd"), "teleport Home\n");
  EXPECT_TRUE(hand_off_until_teleport(dir_.file("own.cmd")));
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Home");
}

// A FIFO named as the command file is not read: its writer could keep the window thread
// waiting as long as it liked. Frames go on after the hand-off.
TEST_F(Command, AFifoAsTheCommandFileHoldsNoFrameUp) {
  install();
  ASSERT_TRUE(start());
  std::string fifo = dir_.file("cmd.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> done{false}, released{false};
  // Should the window thread wait on the FIFO, a writer comes after the common cap and lets it
  // go, so that the test fails rather than hangs.
  std::thread release([&] {
    if (testutil::poll_until([&] { return done.load(); })) return;
    released = true;
    int fd = open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
  });
  bool sent = false;
  std::thread second([&] { sent = host_instance_send(dir_.path().c_str(), fifo.c_str(), 3000); });
  long frames_after = 0;
  host_.on_step([&](long) {
    if (host_.raise_count() > 0 && ++frames_after == 50) tessel_quit();
    usleep(1000);
  });
  host_.run_loop();
  host_.on_step(nullptr);
  done = true;
  second.join();
  release.join();
  EXPECT_FALSE(released) << "the window thread waited on the FIFO";
  EXPECT_TRUE(sent);
  EXPECT_EQ(frames_after, 50);
  EXPECT_EQ(cgi_get_teleport(), nullptr);
}

// However long the program directory's path, the socket's address fits and the hand-off
// arrives.
TEST_F(Command, HandOffReachesAProgramInADeepDirectory) {
  std::string deep = dir_.path();
  while (deep.size() < 200) {
    deep += "/a_folder_of_some_length";
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  ASSERT_LT(deep.size(), 256u);
  write_file(deep + "/tessel.ini", "[general]\n");
  mkdir((deep + "/Messages").c_str(), 0755);
  write_file(deep + "/Messages/default.tzm", kTestMessages);
  platform_set_program_dir(deep);
  ASSERT_TRUE(start());
  write_file(deep + "/go.cmd", "teleport Deep 1N 1W\n");
  EXPECT_TRUE(hand_off_until_teleport(deep + "/go.cmd", deep));
  ASSERT_NE(cgi_get_teleport(), nullptr);
  EXPECT_STREQ(cgi_get_teleport(), "teleport Deep 1N 1W");
  EXPECT_EQ(host_.raise_count(), 1);
}

// Without a runtime folder the hand-off lives in /tmp/tessel-<uid>. Another user who makes
// that folder first, open or closed to others, gets neither the socket nor a refused start:
// both starts meet in a folder of the person's own, and the hand-off arrives. Run in a mount
// namespace of its own, with a /tmp of its own, so that no real folder of that name is touched.
TEST_F(Command, AHandOffFolderMadeFirstByAnotherUserIsNotUsedAndTheHandOffArrives) {
  if (geteuid() != 0) GTEST_SKIP() << "a /tmp of its own and another uid need root";
  std::string said = testutil::in_child([&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0)
      return "no namespace";
    unsetenv("XDG_RUNTIME_DIR");
    std::string shared = "/tmp/tessel-" + std::to_string(geteuid());
    std::string out;
    for (mode_t mode : {0755, 0700}) {
      const char* label = mode == 0755 ? "open" : "closed";
      pid_t squatter = fork();
      if (squatter == 0) {
        umask(0);
        _exit(become_nobody(false) && mkdir(shared.c_str(), mode) == 0 ? 0 : 1);
      }
      int status = 0;
      if (waitpid(squatter, &status, 0) != squatter || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "no squatter";
      // Deep enough that the folder of its own is reached through a descriptor.
      std::string home = "/tmp/home";
      mkdir(home.c_str(), 0700);
      while (home.size() < 150) {
        home += "/a_folder_of_some_length";
        mkdir(home.c_str(), 0700);
      }
      mkdir((home + "/Messages").c_str(), 0700);
      write_file(home + "/tessel.ini", "[general]\n");
      write_file(home + "/Messages/default.tzm", kTestMessages);
      write_file(home + "/go.cmd", "teleport Own 2N 2W\n");
      platform_set_program_dir(home);
      if (!start()) return "no start";
      bool sent = hand_off_until_teleport(home + "/go.cmd", home);
      std::string socket = host_instance_socket(home.c_str());
      out += label + std::string(sent ? " sent" : " not sent") +
             (cgi_get_teleport() ? std::string(" ") + cgi_get_teleport() : std::string(" none")) +
             (socket.rfind(shared + "/", 0) == 0 ? " in theirs" : "") +
             (std::filesystem::is_empty(shared) ? "" : " wrote in theirs") + "\n";
      tessel_shutdown(nullptr);
      clean();
      host_.clear();
      std::filesystem::remove_all("/tmp/home");
      std::filesystem::remove_all(shared);
    }
    return out;
  });
  if (said == "no namespace") GTEST_SKIP() << "this system gives no mount namespace";
  EXPECT_EQ(said, "open sent teleport Own 2N 2W\nclosed sent teleport Own 2N 2W\n");
}

// A FIFO named as the command file whose writer has already put a command in it is not read:
// the command stays in the FIFO for whoever reads it, and nothing is pending.
TEST_F(Command, AFifoHoldingACommandIsLeftUnread) {
  install();
  std::string fifo = dir_.file("held.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const std::string command = "teleport Fifo 3N 3W\n";
  ASSERT_EQ(write(writer, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  ASSERT_TRUE(start(fifo.c_str()));
  EXPECT_EQ(cgi_get_teleport(), nullptr);
  char back[64] = {};
  EXPECT_EQ(read(writer, back, sizeof back), static_cast<ssize_t>(command.size()));
  EXPECT_EQ(std::string(back), command);
  close(writer);
}
