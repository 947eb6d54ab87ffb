// Opens a mutated engine file and works on it. The first input byte picks how the rest
// is opened: as an index, a variable-length data file or a fixed-record data file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "keyfile/ostrel.h"

namespace {

bool in_scratch_dir() {
  static bool done = false;
  if (!done) {
    char tmpl[] = "/tmp/kffuzzXXXXXX";
    if (!mkdtemp(tmpl) || chdir(tmpl) != 0) return false;
    done = true;
  }
  return true;
}

void exercise_index(int16_t n, const uint8_t* data, size_t size) {
  int32_t klen = GetFileInfo(n, 1);
  if (klen < 1 || klen > 255) return;
  std::vector<uint8_t> key(static_cast<size_t>(klen), ' '), out(static_cast<size_t>(klen));
  char report[128];
  CheckOlFile(n, report, sizeof report);
  int steps = 0;
  for (int32_t p = FirstKey(n, out.data()); p && steps < 5000; p = NextKey(n, out.data())) ++steps;
  steps = 0;
  for (int32_t p = LastKey(n, out.data()); p && steps < 5000; p = PreviousKey(n, out.data())) ++steps;
  for (size_t i = 0; i < 16; ++i) {
    for (size_t j = 0; j < key.size(); ++j) key[j] = data[(i * 31 + j) % size];
    GetKey(n, key.data());
    GetKeyAtLeast(n, key.data(), out.data());
    GetKeyBefore(n, key.data(), out.data());
    AddKey(n, key.data(), 512 + static_cast<int32_t>(i), 0);
    if (i % 3 == 0) DeleteKey(n, key.data(), 512 + static_cast<int32_t>(i));
  }
  CheckOlFile(n, report, sizeof report);
}

void exercise_variable(int16_t n, const uint8_t* data, size_t size) {
  char report[128];
  CheckOlFile(n, report, sizeof report);
  std::vector<uint8_t> buf(2048, 0x5A);
  for (size_t i = 0; i < 12; ++i) {
    int32_t pos = static_cast<int32_t>(data[i % size] | (data[(i + 1) % size] << 8));
    VDataLength(n, pos);
    ReadVData(n, pos, buf.data(), static_cast<int32_t>(buf.size()));
    if (i % 4 == 0) ReleaseVData(n, pos);
    int32_t len = 1 + static_cast<int32_t>(data[(i * 7) % size]) * 7;
    int32_t p = NewVData(n, len);
    if (p) WriteVData(n, p, buf.data(), len);
  }
  CheckOlFile(n, report, sizeof report);
}

void exercise_fixed(int16_t n, const uint8_t* data, size_t size) {
  int32_t rl = GetFileInfo(n, 0);
  if (rl < 5 || rl > 65535) return;
  std::vector<uint8_t> rec(static_cast<size_t>(rl), 0x33);
  char report[128];
  CheckOlFile(n, report, sizeof report);
  for (size_t i = 0; i < 12; ++i) {
    int32_t p = NewData(n);
    if (p) WriteData(n, p, rec.data());
    int32_t q = static_cast<int32_t>(data[i % size] | (data[(i + 2) % size] << 8));
    ReadData(n, q, rec.data());
    if (i % 3 == 0) ReleaseData(n, p ? p : q);
  }
  CheckOlFile(n, report, sizeof report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 20) || !in_scratch_dir()) return 0;
  FILE* fp = std::fopen("f.ol", "wb");
  if (!fp) return 0;
  std::fwrite(data + 1, 1, size - 1, fp);
  std::fclose(fp);
  if (!KeyedFileEngineStarted()) InitKeyedFileEngine(16, 20, 4);
  uint8_t kind = data[0] % 3;
  uint16_t mode = kind == 1 ? 6 : 2;
  if (data[0] & 0x80) mode |= 0x4000;  // also accept files marked as changed
  if (OpenOlFile(0, "f.ol", mode) == 0) {
    int32_t type = GetFileInfo(0, 2);
    if (type == 1) exercise_index(0, data + 1, size - 1);
    else if (type == 2) exercise_variable(0, data + 1, size - 1);
    else exercise_fixed(0, data + 1, size - 1);
    CloseOlFile(0, 0);
  }
  // Every run starts from a clean engine.
  StopKeyedFileEngine();
  std::remove("f.ol");
  return 0;
}
