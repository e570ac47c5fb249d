#pragma once
// Host and account names.
#include "base/result_code.h"
#include "base/text.h"

namespace zun {

// "_CLUSTER_NETWORK_NAME_", then "COMPUTERNAME", then the uname node name,
// then "localhost".
ResultCode GetHostName(WString* out);
// GetHostName computed once per process (safe for concurrent first callers)
// and kept; empty only while every attempt has failed.
const WString& GetCachedHostName();
// The password entry of the effective user, then "USERNAME", then "USER".
// RC_NOT_AVAILABLE when none gives a name.
ResultCode GetAccountName(WString* out);

}  // namespace zun
