#include "appenders/appender_fixtures.h"

namespace zun {
namespace {

using test::At;

class RollingStress : public test::TempDirTest {};

TEST_F(RollingStress, EightProcessesShareASizeRolledLogWithoutLosingOrSplittingALine) {
  test::ShareSizeRolledLog(Dir(), 8, 50000, 1048576);
}

TEST_F(RollingStress, EightProcessesGoOnRollingWhenOneIsKilledInTheMiddleOfARoll) {
  test::ShareSizeRolledLog(Dir(), 8, 50000, 1048576, 3);
}

// About six simulated days every second of the run.
TEST_F(RollingStress, EightProcessesShareADayRolledLogAcrossMidnightsWithoutLosingOrSplittingALine) {
  test::ShareDayRolledLog(Dir(), 8, 50000, At(2019, 3, 7, 23, 59, 59), 500000);
}

}  // namespace
}  // namespace zun
