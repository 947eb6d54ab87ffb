// kftool: a small command line over the keyed-file engine, for looking into cache files.
// Keys are given as text and padded with spaces to the index's key length.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keyfile/ostrel.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: kftool <command> ...\n"
               "  create-data FILE RECLEN [EXT]       fixed-record data file\n"
               "  create-var FILE [EXT]               variable-length data file\n"
               "  create-index FILE KEYLEN [TYPE [DUPS]]  index (TYPE 0 or 12)\n"
               "  add IDX KEY POS | find IDX KEY | delete IDX KEY POS | list IDX\n"
               "  put DAT IDX KEY TEXT | get DAT IDX KEY | del DAT IDX KEY\n"
               "  header FILE | check FILE\n");
  return 2;
}

int report(const char* what) {
  if (uerr_cod) {
    std::fprintf(stderr, "%s: error %d (system %d)\n", what, uerr_cod, olsys_err);
    return 1;
  }
  return 0;
}

int16_t open_any(const char* name, uint16_t mode) {
  int16_t n = AvailableFileNbr(1);
  if (n < 0) return -1;
  // An index with members takes more numbers; try a wide run first.
  int16_t wide = AvailableFileNbr(8);
  if (wide >= 0) n = wide;
  if (OpenOlFile(n, name, mode)) return -1;
  return n;
}

std::vector<uint8_t> make_key(int16_t idx, const char* text) {
  int32_t klen = GetFileInfo(idx, OL_INFO_KEYLEN);
  std::vector<uint8_t> k(static_cast<size_t>(klen > 0 ? klen : 1), ' ');
  size_t n = std::min(std::strlen(text), k.size());
  std::memcpy(k.data(), text, n);
  return k;
}

void print_key(const std::vector<uint8_t>& k) {
  for (uint8_t c : k) {
    if (c >= 32 && c < 127) std::putchar(c);
    else std::printf("\\x%02x", c);
  }
}

int dump_header(const char* name) {
  FILE* fp = std::fopen(name, "rb");
  if (!fp) {
    std::perror(name);
    return 1;
  }
  uint8_t h[128];
  size_t n = std::fread(h, 1, sizeof h, fp);
  std::fclose(fp);
  if (n != sizeof h) {
    std::fprintf(stderr, "%s: shorter than a header\n", name);
    return 1;
  }
  auto i32 = [&](int o) { return static_cast<int32_t>(h[o] | (h[o + 1] << 8) | (h[o + 2] << 16) | (uint32_t(h[o + 3]) << 24)); };
  auto u16 = [&](int o) { return static_cast<unsigned>(h[o] | (h[o + 1] << 8)); };
  std::printf("physical end   %d\nrelease chain  %d\nlogical end    %d\nserial         %d\ncount          %d\n"
              "root           %d\nformat         %u\nnode size      %u\nrecord length  %u\nextension      %u\n"
              "mode           0x%04x\npermanent bits 0x%04x\nleaf capacity  %u bytes, %u entries\nnon-leaf area  %u\n"
              "update flag    0x%02x\nkey type       %u\nduplicates     %u\nnode reuse     %u\npad byte       %u\n"
              "file type      %u\nkey length     %u\nmembers        %u\nmember number  %u\nfirst leaf     %d\n"
              "file class     %u\nmarker         %d\nheader writes  %d\nclose time     %d\n",
              i32(0), i32(4), i32(8), i32(20), i32(24), i32(28), u16(40), u16(42), u16(44), u16(46), u16(48),
              u16(50), u16(52), u16(94), u16(54), h[56], h[57], h[58], h[59], h[60], u16(64), u16(66), u16(68),
              u16(70), i32(72), u16(92), i32(100), i32(108), i32(112));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string cmd = argv[1];
  if (cmd == "header") return dump_header(argv[2]);
  if (InitKeyedFileEngine(64, 20, 4)) return report("start");
  int rc = 0;
  if (cmd == "create-data" && argc >= 4) {
    CreateDataFile(0, argv[2], static_cast<uint16_t>(std::atoi(argv[3])), static_cast<uint16_t>(argc > 4 ? std::atoi(argv[4]) : 0), 2);
    rc = report("create");
  } else if (cmd == "create-var") {
    CreateDataFile(0, argv[2], 0, static_cast<uint16_t>(argc > 3 ? std::atoi(argv[3]) : 0), 6);
    rc = report("create");
  } else if (cmd == "create-index" && argc >= 4) {
    CreateIndexFile(0, argv[2], static_cast<int16_t>(std::atoi(argv[3])), static_cast<int16_t>(argc > 4 ? std::atoi(argv[4]) : 0),
                    static_cast<int16_t>(argc > 5 ? std::atoi(argv[5]) : 0), 0, 0, 2);
    rc = report("create");
  } else if (cmd == "check") {
    int16_t n = open_any(argv[2], 2);
    if (n < 0) return report("open");
    int32_t members = GetFileInfo(n, OL_INFO_TYPE) == OL_TYPE_INDEX ? 0 : 0;
    (void)members;
    char text[256];
    if (CheckOlFile(n, text, sizeof text)) {
      std::printf("damaged: %s (error %d)\n", text, uerr_cod);
      rc = 1;
    } else {
      std::printf("sound\n");
    }
    CloseOlFile(n, 0);
  } else if ((cmd == "add" || cmd == "delete") && argc >= 5) {
    int16_t n = open_any(argv[2], 2);
    if (n < 0) return report("open");
    auto k = make_key(n, argv[3]);
    if (cmd == "add") AddKey(n, k.data(), std::atoi(argv[4]), 0);
    else DeleteKey(n, k.data(), std::atoi(argv[4]));
    rc = report(cmd.c_str());
    CloseOlFile(n, 0);
  } else if (cmd == "find" && argc >= 4) {
    int16_t n = open_any(argv[2], 2);
    if (n < 0) return report("open");
    auto k = make_key(n, argv[3]);
    int32_t pos = GetKey(n, k.data());
    if (pos) std::printf("%d\n", pos);
    else rc = report("find") ? 1 : (std::printf("absent\n"), 1);
    CloseOlFile(n, 0);
  } else if (cmd == "list") {
    int16_t n = open_any(argv[2], 2);
    if (n < 0) return report("open");
    std::vector<uint8_t> k(static_cast<size_t>(GetFileInfo(n, OL_INFO_KEYLEN)));
    for (int32_t pos = FirstKey(n, k.data()); pos; pos = NextKey(n, k.data())) {
      print_key(k);
      std::printf("\t%d\n", pos);
    }
    rc = report("list");
    CloseOlFile(n, 0);
  } else if ((cmd == "put" || cmd == "get" || cmd == "del") && argc >= 5) {
    int16_t d = open_any(argv[2], 2 | OL_VARIABLE);
    if (d < 0) return report("open data");
    int16_t x = open_any(argv[3], 2);
    if (x < 0) {
      rc = report("open index");
      CloseOlFile(d, 0);
      return rc;
    }
    auto k = make_key(x, argv[4]);
    int32_t old = GetKey(x, k.data());
    if (cmd == "get") {
      if (!old) {
        rc = report("get") ? 1 : (std::printf("absent\n"), 1);
      } else {
        int32_t len = VDataLength(d, old);
        std::vector<char> buf(static_cast<size_t>(len) + 1, 0);
        if (len > 0 && ReadVData(d, old, buf.data(), len) == 0) std::printf("%s\n", buf.data());
        rc = report("get");
      }
    } else if (cmd == "del") {
      // Key first: a crash in between leaves a lost piece, never a key to a free piece.
      if (old && !DeleteKey(x, k.data(), old)) ReleaseVData(d, old);
      rc = report("del");
    } else if (argc >= 6) {
      int32_t len = static_cast<int32_t>(std::strlen(argv[5]));
      int32_t pos = NewVData(d, len);
      if (pos && !WriteVData(d, pos, argv[5], len)) {
        // The key moves to the new record before the old piece is released.
        if (old) {
          if (!DeleteKey(x, k.data(), old) && !AddKey(x, k.data(), pos, 0)) ReleaseVData(d, old);
        } else {
          AddKey(x, k.data(), pos, 0);
        }
      }
      rc = report("put");
    } else {
      rc = usage();
    }
    CloseOlFile(x, 0);
    CloseOlFile(d, 0);
  } else {
    rc = usage();
  }
  StopKeyedFileEngine();
  return rc;
}
