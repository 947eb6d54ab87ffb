// The tessel program with the tour's script runner, for scripted runs of the demo:
//   TESSEL_TOUR=script  drive the program by a script of inputs (client/ui/tour.h)
// It is never shipped: tessel itself carries no test driver.
#include <cstdio>
#include <cstdlib>

#include "client/ui/program_main.h"
#include "client/ui/tour.h"

int main(int argc, char** argv) {
  return program_main(argc, argv, [](QtHost& host) {
    const char* tour = std::getenv("TESSEL_TOUR");
    if (tour && *tour && !tour_start(host, tour, std::getenv("TESSEL_TOUR_DIR")))
      std::fprintf(stderr, "tessel: the tour %s cannot be read\n", tour);
  });
}
