// The tide-and-wave recorder's wave number; its bursts in memory and in real-time records are
// checked by the host's wave retrieval tests.
#include <gtest/gtest.h>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimWaves, WaveNumberMeetsTheDispersionRelation) {
  // Roots of 9.80665 k tanh(k h) = (2 pi / T)^2 found by SciPy's brentq.
  const struct {
    double h, t, k;
  } cases[] = {{13.1, 8, 0.08035209483234908}, {1000, 8, 0.06290122264668212},
               {0.5, 10, 0.28470454605102424}, {-1, 8, 0}, {10, 0, 0}};
  for (const auto& c : cases) EXPECT_NEAR(SimWaveNumber(c.h, c.t), c.k, 1e-12 * c.k) << c.h;
}

}  // namespace
}  // namespace klx::sim::test
