// Prints its process id and the expansion of its argument, so a test can run
// a copy of it under any executable name.
#include <unistd.h>

#include <cstdio>

#include "config/log_locations.h"

int main(int argc, char** argv) {
  zun::WString expanded;
  if (argc != 2 || zun::Failed(zun::ExpandVariables(zun::ToUtf16(argv[1]), &expanded))) return 1;
  std::printf("%d\n%s\n", static_cast<int>(getpid()), zun::ToUtf8(expanded).c_str());
  return 0;
}
