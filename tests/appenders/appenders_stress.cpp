#include "appenders/appender_fixtures.h"

namespace zun {
namespace {

class AppendersStress : public test::TempDirTest {};

TEST_F(AppendersStress, EightThreadsAppendHundredThousandLinesIntoOneFileThroughTwoAppenders) {
  test::AppendFromEightThreads(PathOf("stress.log"), 2, 12500);
}

TEST_F(AppendersStress, FourProcessesAppendHundredThousandLinesToOneFile) {
  test::AppendFromProcesses(PathOf("processes.log"), 4, 2, 12500);
}

TEST_F(AppendersStress, EightProcessesShareASizeRolledLogWithoutLosingOrSplittingALine) {
  test::ShareRolledLog(Dir(), 8, 50000, 1048576);
}

TEST_F(AppendersStress, EightProcessesGoOnRollingWhenOneIsKilledInTheMiddleOfARoll) {
  test::ShareRolledLog(Dir(), 8, 50000, 1048576, 3);
}

// About six simulated days every second of the run.
TEST_F(AppendersStress, EightProcessesShareADayRolledLogAcrossMidnightsWithoutLosingOrSplittingALine) {
  test::ShareRolledLog(Dir(), 8, 50000, 0, 0, test::At(2019, 3, 7, 23, 59, 59), 500000);
}

}  // namespace
}  // namespace zun
