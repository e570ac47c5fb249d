#pragma once
// The verbs of zunlog. Each gets the arguments from its own name on and
// returns the exit status.

namespace zunlog {

int RunLog(int argc, char** argv);
int RunConfig(int argc, char** argv);
int RunWhere(int argc, char** argv);
int RunDecode(int argc, char** argv);

}  // namespace zunlog
