#pragma once
// A fresh directory per test, removed afterwards, and small file helpers.
#include <string>

#include "tests/support/test_util.h"

class TempDir : public testutil::TempDir {
 public:
  TempDir() : testutil::TempDir("tessel_core_") {}
};

using testutil::read_file;
using testutil::write_file;
