
#include "appenders/appender_fixtures.h"

namespace zun {
namespace {

class AppendersStress : public test::LoggerFilesTest {};

TEST_F(AppendersStress, EightThreadsOnTwoLoggersLogHundredThousandLinesIntoOneFile) {
  LogFromEightThreads(/*shareAppender=*/false, 12500);
}

TEST_F(AppendersStress, FourProcessesAppendHundredThousandLinesToOneFile) {
  test::AppendFromProcesses(PathOf("stress.log"), 4, 2, 12500);
}

}  // namespace
}  // namespace zun
