#include "boundary/log_client.h"

#include <new>

namespace zun {

LogClient::~LogClient() {
  if (system != nullptr) ReleaseLogSystem(system);
}

ResultCode EnsureLogClient(std::atomic<LogClient*>& slot, LogClient** out) {
  LogClient* existing = slot.load(std::memory_order_acquire);
  if (existing != nullptr) {
    *out = existing;
    return 0;
  }
  auto* client = new (std::nothrow) LogClient();
  if (client == nullptr) return RC_OUT_OF_MEMORY;
  const ResultCode rc = AcquireLogSystem(&client->system);
  if (Failed(rc)) {
    delete client;
    return rc;
  }
  LogClient* expected = nullptr;
  if (!slot.compare_exchange_strong(expected, client, std::memory_order_acq_rel)) {
    delete client;
    client = expected;
  }
  *out = client;
  return 0;
}

}  // namespace zun
