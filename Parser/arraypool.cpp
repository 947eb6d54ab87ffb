// State the array pools share.
#include "Parser/arraypool.h"

#include <type_traits>

// Nothing to run at exit: it stays usable for trees freed after the pools are gone.
static_assert(std::is_trivially_destructible_v<AgPoolShared>);

AgPoolShared& AgPools() {
  static AgPoolShared shared;
  return shared;
}
