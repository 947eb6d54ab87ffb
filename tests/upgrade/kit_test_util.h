#pragma once
// What the upgrade suites share: a key pair that a program directory trusts, and a picture of
// a folder (every file's bytes and permission bits) to compare before and after.
#include <sodium.h>
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

// A build newer than the one the programs under test are: a kit for it is installed.
constexpr uint32_t kNewerBuild = TESSEL_BUILD_NUMBER + 1;
static_assert(TESSEL_BUILD_NUMBER > 1, "an older build to replay");

// The kit signed with the key for the build it makes.
inline std::vector<uint8_t> sign(const std::vector<uint8_t>& kit, const KeyPair& k, uint32_t build = kNewerBuild) {
  return kit_sign(kit, k.secret_key, build);
}

// The kit signed in the form kits had before their signature named a build, as a kit
// published then still is: "TSIG", version 1, 0, key id, and the signature of all before it.
inline std::vector<uint8_t> sign_older_form(const std::vector<uint8_t>& kit, const KeyPair& k) {
  std::vector<uint8_t> out = kit;
  out.insert(out.end(), {'T', 'S', 'I', 'G', 1, 0, 0, 0});
  out.insert(out.end(), k.public_key.begin(), k.public_key.begin() + KIT_KEY_ID_SIZE);
  uint8_t signature[crypto_sign_BYTES];
  EXPECT_EQ(crypto_sign_detached(signature, nullptr, out.data(), out.size(), k.secret_key.data()), 0);
  out.insert(out.end(), signature, signature + sizeof signature);
  return out;
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
    else if (!S_ISREG(st.st_mode))
      files[name] = "<special>";
    else
      files[name] = std::to_string(st.st_mode & 07777) + " " + testutil::read_file(e.path().string());
  }
  return files;
}

}  // namespace kit_test
