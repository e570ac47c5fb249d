#include "protect/text_payload.h"

#include <new>

namespace zun {

ResultCode MakeTextPayload(std::string& payload, WStringView text) {
  const std::size_t start = payload.size();
  try {
    payload.push_back(kTextPayloadTag);
    const ResultCode rc = AppendUtf8FromUtf16(text, payload);
    if (Failed(rc)) payload.resize(start);
    return rc;
  } catch (const std::bad_alloc&) {
    payload.resize(start);
    return RC_OUT_OF_MEMORY;
  }
}

}  // namespace zun
