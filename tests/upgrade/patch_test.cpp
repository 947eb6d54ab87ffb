// The patch library as the upgrade program uses it: loaded with dlopen, fed kits made by the
// real mkkit tool or crafted byte by byte, and checked on a real folder.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <functional>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/servers/upgrade.h"
#include "patch/kit.h"
#include "patch/patchw32.h"
#include "platform/library.h"
#include "tests/support/test_util.h"
#include "tests/upgrade/kit_test_util.h"

namespace fs = std::filesystem;
using testutil::read_file;
using testutil::TempDir;
using testutil::write_file;

namespace {

struct Call {
  int id;
  std::string text;
  unsigned value;
};
std::vector<Call> calls;
int stop_at_file = -1;  // answer null at this PATCH_FILE call

const char* record(int id, void* param) {
  Call c{id, "", 0};
  if (id == PATCH_PROGRESS && param) c.value = *static_cast<uint16_t*>(param);
  if ((id == PATCH_FILE || id == PATCH_ERROR || id == PATCH_FILE_ERROR) && param) c.text = static_cast<char*>(param);
  calls.push_back(c);
  if (id == PATCH_FILE && stop_at_file >= 0) {
    int files = 0;
    for (const Call& k : calls) files += k.id == PATCH_FILE;
    if (files - 1 == stop_at_file) return nullptr;
  }
  return "";
}

patch_apply_fn load() {
  void* library = platform_library_open(PATCH_LIBRARY_FILE);
  return library ? reinterpret_cast<patch_apply_fn>(dlsym(library, PATCH_APPLY_SYMBOL)) : nullptr;
}

using kit_test::snapshot;

std::string mkkit() { return std::string(TESSEL_BINARY_DIR) + "/bin/mkkit"; }

class PatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    stop_at_file = -1;
    apply = load();
    ASSERT_NE(apply, nullptr) << "libpatchw32.so";
    write_file(target.file("tessel"), "old program");
    write_file(target.file("keep.txt"), "untouched");
    write_file(target.file("gone.txt"), "to be deleted");
    key = kit_test::trust_new_key(target.path());
  }
  int run(const std::string& kit) { return apply((kit + " \"" + target.path() + "\"").c_str(), record, 1); }
  // Signed with the key the target trusts unless another is given.
  void write_kit(const std::vector<kit_entry>& entries, const std::vector<uint8_t>* secret_key = nullptr) {
    testutil::spit(kit, kit_sign(kit_build(entries), secret_key ? *secret_key : key.secret_key, kit_test::kNewerBuild));
  }
  bool reported(const std::string& words) const {
    for (const Call& c : calls)
      if ((c.id == PATCH_ERROR || c.id == PATCH_FILE_ERROR) && c.text.find(words) != std::string::npos) return true;
    return false;
  }
  patch_apply_fn apply = nullptr;
  kit_test::KeyPair key;
  TempDir target{"tessel_patch_target_"};
  TempDir source{"tessel_patch_source_"};
  TempDir work{"tessel_patch_work_"};
  std::string kit = work.file("upgrade.rtp");
};

TEST_F(PatchTest, KitFromMkkitReplacesAddsAndDeletesFiles) {
  fs::create_directories(source.file("Messages"));
  write_file(source.file("tessel"), std::string(100000, 'n') + "new program");
  write_file(source.file("Messages/default.tzm"), "68 Veldara\n");
  chmod(source.file("tessel").c_str(), 0755);
  // The publisher's key pair from mkkit: the secret half for its owner only, never written
  // over; the public half is what the installation trusts.
  std::string secret = work.file("kit.key"), pub = work.file("kit.pub");
  std::string keygen = mkkit() + " --keygen " + secret + " " + pub;
  ASSERT_EQ(std::system(keygen.c_str()), 0);
  struct stat key_stat {};
  ASSERT_EQ(stat(secret.c_str(), &key_stat), 0);
  EXPECT_EQ(key_stat.st_mode & 0777, 0600u);
  std::string first_secret = read_file(secret);
  EXPECT_NE(std::system((keygen + " 2> /dev/null").c_str()), 0);
  EXPECT_EQ(read_file(secret), first_secret);
  fs::copy_file(pub, target.file(KIT_TRUSTED_KEY_FILE), fs::copy_options::overwrite_existing);
  std::string command = mkkit() + " -k " + secret + " -b " + std::to_string(kit_test::kNewerBuild) + " " + kit + " " +
                        source.path() + " -d gone.txt";
  // A kit that would both install and delete one file, or for no build, is not made.
  EXPECT_NE(std::system((command + " -d tessel 2> /dev/null").c_str()), 0);
  EXPECT_FALSE(fs::exists(kit));
  std::string no_build = mkkit() + " -k " + secret + " -b 0 " + kit + " " + source.path() + " 2> /dev/null";
  EXPECT_NE(std::system(no_build.c_str()), 0);
  EXPECT_FALSE(fs::exists(kit));
  ASSERT_EQ(std::system((command + " > /dev/null").c_str()), 0);

  ASSERT_EQ(run(kit), 0);
  EXPECT_EQ(read_file(target.file("tessel")), std::string(100000, 'n') + "new program");
  EXPECT_EQ(read_file(target.file("Messages/default.tzm")), "68 Veldara\n");
  EXPECT_EQ(read_file(target.file("keep.txt")), "untouched");
  EXPECT_FALSE(fs::exists(target.file("gone.txt")));
  struct stat st {};
  ASSERT_EQ(stat(target.file("tessel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  for (auto& e : fs::recursive_directory_iterator(target.path()))
    EXPECT_EQ(e.path().string().find(".tkit-new"), std::string::npos) << e.path();

  // The library says what it does: searching first, each file named, progress ending full.
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().id, PATCH_SEARCHING);
  std::vector<std::string> named;
  unsigned last_progress = 0;
  for (const Call& c : calls) {
    if (c.id == PATCH_FILE) named.push_back(c.text);
    if (c.id == PATCH_PROGRESS) last_progress = c.value;
  }
  EXPECT_EQ(named, (std::vector<std::string>{"Messages/default.tzm", "tessel"}));
  EXPECT_EQ(last_progress, PATCH_PROGRESS_FULL);
}

TEST_F(PatchTest, DamagedOrUnsafeKitsChangeNothing) {
  kit_entry good{"tessel", KIT_FILE, 0755, {'n', 'e', 'w'}};
  write_kit({good, kit_entry{"Messages/x.tzm", KIT_FILE, 0644, std::vector<uint8_t>(5000, 'x')}});
  std::vector<uint8_t> whole = testutil::slurp(kit);
  auto before = snapshot(target.path());

  // Every cut of a valid kit is refused, and so is a flipped byte anywhere in it.
  for (size_t cut = 0; cut < whole.size(); cut += 7) {
    testutil::spit(kit, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    EXPECT_NE(run(kit), 0) << "cut at " << cut;
  }
  for (size_t at = 0; at < whole.size(); at += 5) {
    auto flipped = whole;
    flipped[at] ^= 0x40;
    testutil::spit(kit, flipped);
    EXPECT_NE(run(kit), 0) << "flip at " << at;
  }
  // Names that would leave the folder.
  for (const char* name : {"../outside", "/etc/passwd", "a/../../b", "a//b", "./x", "a\\b"}) {
    write_kit({good, kit_entry{name, KIT_FILE, 0644, {'x'}}});
    EXPECT_NE(run(kit), 0) << name;
  }
  EXPECT_EQ(snapshot(target.path()), before);
  EXPECT_FALSE(fs::exists(fs::path(target.path()).parent_path() / "outside"));
  bool reported = false;
  for (const Call& c : calls) reported |= c.id == PATCH_ERROR && !c.text.empty();
  EXPECT_TRUE(reported);
  EXPECT_NE(run(work.file("no-such-kit")), 0);
}

// Only a kit signed with the key the folder trusts is installed; anything else, a set-id
// program in it included, leaves every file's bytes and mode as they were, and says why.
TEST_F(PatchTest, KitsWithoutTheTrustedSignatureChangeNothing) {
  chmod(target.file("tessel").c_str(), 0755);
  const std::vector<kit_entry> entries = {kit_entry{"tessel", KIT_FILE, 04755, {'e', 'v', 'i', 'l'}},
                                          kit_entry{"planted", KIT_FILE, 0666, {'x'}},
                                          kit_entry{"keep.txt", KIT_DELETE, 0, {}}};
  auto before = snapshot(target.path());

  testutil::spit(kit, kit_build(entries));
  EXPECT_NE(run(kit), 0);
  EXPECT_TRUE(reported("not signed"));
  EXPECT_EQ(snapshot(target.path()), before);

  kit_test::KeyPair stranger = kit_test::new_key();
  write_kit(entries, &stranger.secret_key);
  EXPECT_NE(run(kit), 0);
  EXPECT_TRUE(reported("does not trust"));
  EXPECT_EQ(snapshot(target.path()), before);

  // A stranger's signature that claims the trusted key's name.
  std::vector<uint8_t> forged = testutil::slurp(kit);
  std::copy(key.public_key.begin(), key.public_key.begin() + KIT_KEY_ID_SIZE,
            forged.end() - KIT_SIGNATURE_BLOCK_SIZE + 8);
  testutil::spit(kit, forged);
  EXPECT_NE(run(kit), 0);
  EXPECT_TRUE(reported("does not match"));
  EXPECT_EQ(snapshot(target.path()), before);

  // Without a trusted key nothing is installed, however the kit is signed.
  fs::remove(target.file(KIT_TRUSTED_KEY_FILE));
  before = snapshot(target.path());
  write_kit(entries);
  EXPECT_NE(run(kit), 0);
  EXPECT_TRUE(reported(KIT_TRUSTED_KEY_FILE));
  EXPECT_EQ(snapshot(target.path()), before);
}

// A kit that brought no new library leaves the library's own build behind: the folder keeps
// the build it was taken to, and the same kit sent again, or an older one, changes nothing.
TEST_F(PatchTest, AKitInstalledOnceIsNotInstalledAgain) {
  const std::vector<kit_entry> first = {kit_entry{"tessel", KIT_FILE, 0755, {'t', 'w', 'o'}}};
  write_kit(first);
  ASSERT_EQ(run(kit), 0);
  EXPECT_EQ(read_file(target.file(KIT_BUILD_FILE)), std::to_string(kit_test::kNewerBuild) + "\n");
  // The person put a file of their own back; a replay would take it away again.
  write_file(target.file("tessel"), "two, with the person's change");
  auto before = snapshot(target.path());
  calls.clear();
  EXPECT_NE(run(kit), 0);
  EXPECT_TRUE(reported("is build " + std::to_string(kit_test::kNewerBuild) + " already"));
  EXPECT_EQ(snapshot(target.path()), before);

  // The next build's kit installs, and takes the record along.
  testutil::spit(kit, kit_sign(kit_build({kit_entry{"tessel", KIT_FILE, 0755, {'3'}}}), key.secret_key,
                               kit_test::kNewerBuild + 1));
  ASSERT_EQ(run(kit), 0);
  EXPECT_EQ(read_file(target.file("tessel")), "3");
  EXPECT_EQ(read_file(target.file(KIT_BUILD_FILE)), std::to_string(kit_test::kNewerBuild + 1) + "\n");
}

// A missing build record stands for the library's own build; one that is no record refuses
// every kit and one that cannot be written fails the install, each saying why and changing
// nothing. A FIFO in a record's place holds nothing up.
TEST_F(PatchTest, TheBuildRecordIsBelievedOnlyAsOneAndIsAlwaysWritten) {
  const std::string record = target.file(KIT_BUILD_FILE), key_file = target.file(KIT_TRUSTED_KEY_FILE);
  const std::string newer = std::to_string(kit_test::kNewerBuild + 5);
  auto text = [&](std::string bytes) { return [&, bytes] { write_file(record, bytes); }; };
  const std::pair<std::function<void()>, std::string> cases[] = {  // what is there, what is said
      {[] {}, ""},  // installed
      {text(newer + "\n"), "already"},
      {text(""), KIT_BUILD_FILE},
      {text("lots\n"), KIT_BUILD_FILE},
      {text(" " + newer), KIT_BUILD_FILE},
      {text(newer + "\r\n"), KIT_BUILD_FILE},
      {text("12345678901"), KIT_BUILD_FILE},
      {text(std::string(1 << 20, '9')), KIT_BUILD_FILE},
      {[&] { fs::create_directory(record); }, KIT_BUILD_FILE},
      {[&] { fs::create_symlink(work.file("none"), record); }, KIT_BUILD_FILE},
      {[&] { mkfifo(record.c_str(), 0600); }, KIT_BUILD_FILE},
      {[&] { fs::remove(key_file), mkfifo(key_file.c_str(), 0600); }, KIT_TRUSTED_KEY_FILE},
      {[&] { fs::create_directories(record + ".tkit-new/x"); }, "Cannot write " KIT_BUILD_FILE},
  };
  write_kit({kit_entry{"tessel", KIT_FILE, 0755, {'n', 'e', 'w'}}});
  for (const auto& [make, says] : cases) {
    for (const std::string& p : {record, record + ".tkit-new", key_file}) fs::remove_all(p);
    write_file(target.file("tessel"), "old program");
    write_file(key_file, kit_key_text(key.public_key));
    make();
    const auto before = snapshot(target.path());
    calls.clear();
    testutil::FifoRelease release({record, key_file});
    EXPECT_EQ(run(kit) == 0, says.empty()) << says;
    EXPECT_FALSE(release.stop()) << says << ": waited on a FIFO";
    EXPECT_TRUE(says.empty() ? read_file(target.file("tessel")) == "new"
                             : reported(says) && snapshot(target.path()) == before) << says;
  }
}

// Whatever bits a signed kit carries, a file lands as a plain program or a plain file.
TEST_F(PatchTest, InstalledFilesGetPlainModes) {
  write_kit({kit_entry{"tessel", KIT_FILE, 04755, {'a'}}, kit_entry{"setgid", KIT_FILE, 02775, {'b'}},
             kit_entry{"own", KIT_FILE, 0700, {'c'}}, kit_entry{"open.txt", KIT_FILE, 0666, {'d'}},
             kit_entry{"private.txt", KIT_FILE, 0600, {'e'}}, kit_entry{"sticky", KIT_FILE, 01777, {'f'}}});
  ASSERT_EQ(run(kit), 0);
  std::map<std::string, unsigned> modes;
  for (const char* name : {"tessel", "setgid", "own", "open.txt", "private.txt", "sticky"}) {
    struct stat st {};
    ASSERT_EQ(stat(target.file(name).c_str(), &st), 0) << name;
    modes[name] = st.st_mode & 07777;
  }
  EXPECT_EQ(modes, (std::map<std::string, unsigned>{{"tessel", 0755}, {"setgid", 0755}, {"own", 0755},
                                                    {"open.txt", 0644}, {"private.txt", 0644}, {"sticky", 0755}}));
}

TEST_F(PatchTest, StopFromTheCallbackLeavesTheFolderAsItWas) {
  write_kit({kit_entry{"new/deep/file.txt", KIT_FILE, 0644, {'a'}},
             kit_entry{"tessel", KIT_FILE, 0755, {'b'}}, kit_entry{"gone.txt", KIT_DELETE, 0, {}}});
  auto before = snapshot(target.path());
  stop_at_file = 1;  // the second file
  EXPECT_NE(run(kit), 0);
  EXPECT_EQ(snapshot(target.path()), before);  // no temp files, no new folders, nothing deleted
}

// A kit that cannot be carried out whole changes nothing, though its first file could be
// moved into place: a file whose target is a folder, a deletion of a folder, two entries for
// one file, a deletion through a link out of the folder. Every file keeps its bytes and mode,
// and the error names the entry.
TEST_F(PatchTest, KitThatFailsHalfWayLeavesEveryFileAsItWas) {
  write_file(target.file("upgraded.txt"), "build before");
  fs::create_directories(target.file("zdir/inner"));
  write_file(target.file("zdir/inner/file.txt"), "inside");
  TempDir outside{"tessel_patch_outside_"};
  write_file(outside.file("victim"), "not the kit's");
  fs::create_directory_symlink(outside.path(), target.file("link"));
  const kit_entry first{"upgraded.txt", KIT_FILE, 0755, {'n', 'e', 'w'}};
  const kit_entry extra{"new.txt", KIT_FILE, 0644, {'x'}};
  const std::pair<std::vector<kit_entry>, std::string> cases[] = {
      {{first, extra, kit_entry{"zdir", KIT_FILE, 0644, {'f'}}}, "zdir"},
      {{first, extra, kit_entry{"zdir", KIT_DELETE, 0, {}}}, "zdir"},
      {{first, extra, kit_entry{"tessel", KIT_FILE, 0755, {'a'}}, kit_entry{"tessel", KIT_FILE, 0755, {'b'}}}, "tessel"},
      {{first, extra, kit_entry{"link/victim", KIT_DELETE, 0, {}}}, "link/victim"},
  };
  const auto before = snapshot(target.path());
  for (const auto& [entries, name] : cases) {
    calls.clear();
    write_kit(entries);
    EXPECT_NE(run(kit), 0) << name;
    EXPECT_EQ(snapshot(target.path()), before) << name;
    bool named = false;
    for (const Call& c : calls)
      named |= (c.id == PATCH_ERROR || c.id == PATCH_FILE_ERROR) && c.text.find(name) != std::string::npos;
    EXPECT_TRUE(named) << name;
  }
  EXPECT_EQ(read_file(outside.file("victim")), "not the kit's");
}

TEST_F(PatchTest, FolderBehindASymbolicLinkIsNotWritten) {
  TempDir outside{"tessel_patch_outside_"};
  fs::create_directory_symlink(outside.path(), target.file("link"));
  write_kit({kit_entry{"link/planted", KIT_FILE, 0644, {'x'}}});
  EXPECT_NE(run(kit), 0);
  EXPECT_FALSE(fs::exists(outside.file("planted")));
  EXPECT_FALSE(fs::exists(outside.file("planted.tkit-new")));
}

TEST_F(PatchTest, CommandTextIsReadWithQuotesAndBlanks) {
  TempDir spaced{"tessel patch spaced "};
  write_file(spaced.file("tessel"), "old");
  write_file(spaced.file(KIT_TRUSTED_KEY_FILE), kit_key_text(key.public_key));
  write_kit({kit_entry{"tessel", KIT_FILE, 0755, {'n', 'e', 'w'}}});
  std::string command = "\"" + kit + "\" \"" + spaced.path() + "\"";
  ASSERT_EQ(apply(command.c_str(), record, 1), 0);
  EXPECT_EQ(read_file(spaced.file("tessel")), "new");
  EXPECT_NE(apply("", record, 1), 0);
  EXPECT_NE(apply(nullptr, record, 1), 0);
  EXPECT_NE(apply((kit + " \"unterminated").c_str(), record, 1), 0);
}

}  // namespace

namespace {

unsigned kill_at = 0;                   // the commit step the process dies before
std::function<void(unsigned)> at_step;  // or what happens there
void on_step(unsigned count) {
  if (count == kill_at) raise(SIGKILL);
  if (at_step) at_step(count);
}

// A rename that fails part-way puts back every file, and a killed install is undone or
// finished whole by the next upgrade or start of tessel, with nothing of it left behind.
TEST_F(PatchTest, ACommitCutShortIsUndoneOrFinishedWhole) {
  void* library = platform_library_open(PATCH_LIBRARY_FILE);
  auto hook = reinterpret_cast<void (**)(unsigned)>(dlsym(library, PATCH_RENAME_HOOK_SYMBOL));
  auto recover = reinterpret_cast<patch_recover_fn>(dlsym(library, PATCH_RECOVER_SYMBOL));
  *hook = on_step;
  write_file(target.file("upgraded.txt"), "build before");
  write_kit({kit_entry{"tessel", KIT_FILE, 0755, {'n', 'e', 'w'}}, kit_entry{"added.txt", KIT_FILE, 0644, {'a'}},
             kit_entry{"sub/deep.txt", KIT_FILE, 0644, {'d'}}, kit_entry{"gone.txt", KIT_DELETE, 0, {}},
             kit_entry{"upgraded.txt", KIT_FILE, 0644, {'u'}}});
  TempDir pristine{"tessel_patch_pristine_"};
  fs::copy(target.path(), pristine.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  const auto old_set = snapshot(target.path());
  at_step = [&](unsigned count) {  // renames 1 and 2 replace tessel, 3 puts added.txt in place
    if (count == 3) fs::create_directories(target.file("added.txt/full"));
  };
  EXPECT_EQ(run(kit), 6);
  fs::remove_all(target.file("added.txt"));
  EXPECT_EQ(snapshot(target.path()), old_set);
  EXPECT_TRUE(reported("Cannot replace added.txt"));
  at_step = nullptr;
  ASSERT_EQ(run(kit), 0);
  const auto new_set = snapshot(target.path());
  const unsigned steps = 2 + 1 + 1 + 1 + 2 + 1 + 1;  // 2 per replaced file, 1 per other, 1 when all are in
  for (kill_at = 1; kill_at <= steps; ++kill_at) {
    fs::remove_all(target.path());
    fs::copy(pristine.path(), target.path(), fs::copy_options::recursive);
    const std::string stored = target.file("upgrade-kit-Ab3dE9");
    fs::copy_file(kit, stored);
    const pid_t child = fork();
    if (child == 0) _exit(apply(("\"" + stored + "\" \"" + target.path() + "\"").c_str(), nullptr, 1));
    int status = 0;
    EXPECT_TRUE(waitpid(child, &status, 0) == child && WIFSIGNALED(status)) << kill_at;
    setenv("TESSEL_HOME", target.path().c_str(), 1);  // the next upgrade, or the next start of tessel
    upgrade_sys.library_folder = TESSEL_BINARY_DIR "/lib";
    EXPECT_EQ(kill_at % 2 ? recover(target.path().c_str()) : upgrade_init(), 0);
    unsetenv("TESSEL_HOME"), upgrade_reset();
    EXPECT_EQ(snapshot(target.path()), kill_at < steps ? old_set : new_set) << "killed before step " << kill_at;
  }
  *hook = nullptr;
}

}  // namespace
