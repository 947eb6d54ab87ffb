#include "client/core/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

class Files : public ::testing::Test {
 protected:
  void SetUp() override { file_term(); }
  void TearDown() override { file_term(); }
  TempDir dir_;
};

TEST_F(Files, ExistenceCacheOutlivesOutsideDeletion) {
  std::string p = dir_.file("cached.bin");
  EXPECT_FALSE(file_exists(p.c_str()));
  write_file(p, "x");
  EXPECT_TRUE(file_exists(p.c_str()));
  ASSERT_EQ(unlink(p.c_str()), 0);
  EXPECT_TRUE(file_exists(p.c_str()));  // remembered
  write_file(p, "x");
  EXPECT_EQ(file_delete(p.c_str()), 0);
  EXPECT_FALSE(file_exists(p.c_str()));  // file_delete forgets it
  EXPECT_EQ(file_delete(p.c_str()), 1);
  // file_term forgets everything.
  write_file(p, "x");
  EXPECT_TRUE(file_exists(p.c_str()));
  unlink(p.c_str());
  file_term();
  EXPECT_FALSE(file_exists(p.c_str()));
}

TEST_F(Files, BackslashesAreSlashes) {
  write_file(dir_.file("a.txt"), "hello");
  std::string win = dir_.path() + "\\a.txt";
  EXPECT_TRUE(file_exists(win.c_str()));
  uint8_t* data = nullptr;
  size_t size = 0;
  ASSERT_EQ(file_read(win.c_str(), &data, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "hello");
  free(data);
  EXPECT_STREQ(file_path("cache\\art\\x"), "cache/art/x");
}

TEST_F(Files, StoreAndRead) {
  std::string p = dir_.file("s.bin");
  std::string bytes("a\0b\xff", 4);
  ASSERT_EQ(file_store(p.c_str(), bytes.data(), bytes.size()), 0);
  EXPECT_EQ(read_file(p), bytes);
  // A shorter store leaves only the new bytes.
  ASSERT_EQ(file_store(p.c_str(), "z", 1), 0);
  EXPECT_EQ(read_file(p), "z");
  ASSERT_EQ(file_store(p.c_str(), nullptr, 0), 0);
  EXPECT_EQ(read_file(p), "");
  uint8_t* data = reinterpret_cast<uint8_t*>(1);
  size_t size = 9;
  ASSERT_EQ(file_read(p.c_str(), &data, &size), 0);
  EXPECT_EQ(size, 0u);
  ASSERT_NE(data, nullptr);
  free(data);
  EXPECT_EQ(file_store(dir_.file("no/dir/x").c_str(), "a", 1), 410);
  EXPECT_EQ(file_read(dir_.file("missing").c_str(), &data, &size), 410);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(file_read(dir_.path().c_str(), &data, &size), 400);  // a folder is no file
}

TEST_F(Files, AShortWriteLeavesTheOldFileAndNoTemporary) {
  std::string p = dir_.file("kept");
  write_file(p, "old bytes");
  // A file size limit makes the write come up short, as a full disk would.
  std::string got = testutil::in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &lim);
    std::vector<char> big(1 << 16, 'a');
    return std::to_string(file_store(p.c_str(), big.data(), big.size()));
  });
  EXPECT_EQ(got, "411");
  EXPECT_EQ(read_file(p), "old bytes");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

TEST_F(Files, AStoreNeverWritesThroughALinkPlantedAtItsName) {
  std::string outside = dir_.file("outside");
  write_file(outside, "theirs");
  std::string p = dir_.file("member.vxx");
  ASSERT_EQ(symlink(outside.c_str(), p.c_str()), 0);
  ASSERT_EQ(file_store(p.c_str(), "server bytes", 12), 0);
  EXPECT_EQ(read_file(outside), "theirs");
  struct stat st {};
  ASSERT_EQ(lstat(p.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(read_file(p), "server bytes");

  // The piecewise writer: a discarded one leaves nothing, a committed one replaces the link.
  std::string temp;
  ASSERT_EQ(symlink(outside.c_str(), dir_.file("piece").c_str()), 0);
  FILE* f = file_create_fresh(dir_.file("piece").c_str(), &temp);
  ASSERT_NE(f, nullptr);
  std::fputs("half", f);
  file_discard_fresh(f, temp);
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  f = file_create_fresh(dir_.file("piece").c_str(), &temp);
  ASSERT_NE(f, nullptr);
  std::fputs("whole", f);
  ASSERT_TRUE(file_commit_fresh(f, temp, dir_.file("piece").c_str()));
  EXPECT_EQ(read_file(dir_.file("piece")), "whole");
  EXPECT_EQ(read_file(outside), "theirs");
}

TEST_F(Files, ThePersonsFoldersAreTheirsWhateverTheUmask) {
  mode_t old = umask(0);
  std::string fresh = dir_.file("fresh");
  EXPECT_EQ(file_make_dir(fresh.c_str()), 0);
  std::string shared = dir_.file("shared");
  ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
  EXPECT_EQ(file_make_dir(shared.c_str()), 0);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder above the cache (the person's home, say) keeps its mode.
  ASSERT_EQ(stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  write_file(dir_.file("plain"), "x");
  EXPECT_EQ(file_make_dir(dir_.file("plain").c_str()), ENOTDIR);
}

// A file of the person's own that was readable by others is theirs alone once opened to be
// added to (the chat log) as when opened to be written afresh; what it held stays.
TEST_F(Files, APersonsFileOpenedToAddToIsTheirsAlone) {
  for (const char* mode : {"a", "w"}) {
    SCOPED_TRACE(mode);
    std::string p = dir_.file("chat.txt");
    write_file(p, "old\n");
    ASSERT_EQ(chmod(p.c_str(), 0644), 0);
    FILE* f = file_open_private(p.c_str(), mode);
    ASSERT_NE(f, nullptr);
    std::fputs("more\n", f);
    std::fclose(f);
    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(p), std::string(mode) == "a" ? "old\nmore\n" : "more\n");
  }
}

TEST_F(Files, OnlyRegularFilesAreRead) {
  std::string fifo = dir_.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(file_is_regular(fifo.c_str()));
  EXPECT_FALSE(file_is_regular(dir_.path().c_str()));
  uint8_t* data = nullptr;
  size_t size = 0;
  // Would wait for a writer for ever if it were opened as a file.
  EXPECT_EQ(file_read(fifo.c_str(), &data, &size), 400);
  write_file(dir_.file("plain"), "x");
  EXPECT_TRUE(file_is_regular(dir_.file("plain").c_str()));
}

TEST_F(Files, NamesFromUrls) {
  char* n = file_name_from_url("http://Host.Example/Models/Tree01.ZIP?v=1|x;y<z>\"*\\");
  EXPECT_STREQ(n, "http---host.example-models-tree01.zip-v=1-x-y-z----");
  free(n);
  n = file_name_from_url_keep_dirs("Models/Sub/A:B.zip");
  EXPECT_STREQ(n, "models\\sub\\a-b.zip");
  free(n);
  EXPECT_EQ(file_name_from_url(nullptr), nullptr);
  EXPECT_STREQ(file_basename("tree01.rwx.zip"), "tree01");
  EXPECT_STREQ(file_basename("noext"), "noext");
  std::string longname(5000, 'n');
  EXPECT_EQ(std::string(file_basename((longname + ".x").c_str())), longname);
  EXPECT_STREQ(file_basename("dir.d/file"), "dir");  // only the first dot counts
}

TEST_F(Files, DirectoryAndDate) {
  EXPECT_TRUE(file_is_directory(dir_.path().c_str()));
  std::string p = dir_.file("d.txt");
  write_file(p, "x");
  EXPECT_FALSE(file_is_directory(p.c_str()));
  struct timespec times[2] = {{784111777, 0}, {784111777, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
  EXPECT_STREQ(file_date(p.c_str()), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_STREQ(file_date(dir_.file("none").c_str()), "");
  time_t before = time(nullptr);
  file_touch(p.c_str());
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before);
}

TEST_F(Files, FindWithWildcards) {
  for (const char* n : {"a.zip", "B.ZIP", "c.jpg", "noext"}) write_file(dir_.file(n), "x");
  mkdir(dir_.file("sub.zip").c_str(), 0755);
  file_search* h = nullptr;
  std::vector<std::string> names;
  for (const char* n = file_find_first((dir_.path() + "\\*.zip").c_str(), &h); n;
       n = file_find_next(h))
    names.push_back(n);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.ZIP", "a.zip", "sub.zip"}));
  names.clear();
  for (const char* n = file_find_first((dir_.path() + "/*.*").c_str(), &h); n; n = file_find_next(h))
    names.push_back(n);
  EXPECT_EQ(names.size(), 5u);  // "*.*" is every name; "." and ".." are not given
  EXPECT_EQ(file_find_first((dir_.path() + "/*.none").c_str(), &h), nullptr);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(file_find_first(dir_.file("nodir/*").c_str(), &h), nullptr);
  // A search ended early is closed by the caller.
  ASSERT_NE(file_find_first((dir_.path() + "/?.jpg").c_str(), &h), nullptr);
  file_find_close(h);
}
