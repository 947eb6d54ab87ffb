#include "client/core/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

TEST_F(Files, ShortWriteRemovesThePartialFile) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full missing";
  std::string p = dir_.file("full");
  ASSERT_EQ(symlink("/dev/full", p.c_str()), 0);
  std::vector<char> big(1 << 16, 'a');
  EXPECT_EQ(file_store(p.c_str(), big.data(), big.size()), 411);
  struct stat st;
  EXPECT_NE(lstat(p.c_str(), &st), 0);
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
