#pragma once
// zunlog config check: a configuration file applied section by section,
// each failure named with its section and key.
#include <string>

namespace zunlog {

// Reports each problem of the file on standard output as "FILE:LINE: ...",
// then a count. Returns the exit status: 0 without problems, 1 with any or
// when the file cannot be read.
int CheckConfigurationFile(const std::string& path);

}  // namespace zunlog
