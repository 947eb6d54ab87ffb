#pragma once
// What the upgrade suites share: a key pair that a program directory trusts, and a picture of
// a folder (every file's bytes and permission bits) to compare before and after.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patch/kit.h"
#include "tests/support/test_util.h"

namespace kit_test {

struct KeyPair {
  std::vector<uint8_t> public_key, secret_key;
};

inline KeyPair new_key() {
  KeyPair k;
  EXPECT_TRUE(kit_keygen(&k.public_key, &k.secret_key));
  return k;
}

// A new key pair whose public half dir trusts.
inline KeyPair trust_new_key(const std::string& dir) {
  KeyPair k = new_key();
  testutil::write_file(dir + "/" KIT_TRUSTED_KEY_FILE, kit_key_text(k.public_key));
  return k;
}

// Every entry under dir, links not followed: a file's permission bits and bytes, a folder,
// or a link's target.
inline std::map<std::string, std::string> snapshot(const std::string& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    std::string name = fs::relative(e.path(), dir).generic_string();
    struct stat st {};
    lstat(e.path().c_str(), &st);
    if (S_ISLNK(st.st_mode))
      files[name] = "<link> " + fs::read_symlink(e.path()).string();
    else if (S_ISDIR(st.st_mode))
      files[name] = "<dir>";
    else
      files[name] = std::to_string(st.st_mode & 07777) + " " + testutil::read_file(e.path().string());
  }
  return files;
}

}  // namespace kit_test
