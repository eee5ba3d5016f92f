#include "io/Cores.h"

#include <sched.h>

#include <thread>

namespace morven {

int availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? int(n) : 1;
}

}  // namespace morven
