#include "driver/finite_guard.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A value that is not finite stops the run before it is written, naming the
// quantity and the iteration; headers and finite numbers pass.
TEST(FiniteGuardDeathTest, NonFiniteValuesStopTheRun) {
  ensure_finite_text("#event_rate\n0.25\n1e-300\n-0\n", "deletion rates", 1);
  ensure_finite_value(-1e300, "log posterior total (post_para)", 1);
  EXPECT_EXIT(ensure_finite_text("#event_rate\n0.5\ninf\n", trace_quantity("_deletions_"), 7),
              ::testing::ExitedWithCode(255),
              "^internal error: iteration 7 would write the value inf to the deletion rates; the run stops");
  EXPECT_EXIT(ensure_finite_text("0.2 -nan 0.3\n", trace_quantity("_theta_shapes_"), 2), ::testing::ExitedWithCode(255),
              "value -nan to the theta shapes");
  EXPECT_EXIT(ensure_finite_value(-HUGE_VAL, "log posterior total (post_para)", 3), ::testing::ExitedWithCode(255),
              "iteration 3 would write the value -inf to the log posterior total");
}

}  // namespace
