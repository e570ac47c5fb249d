#include "platform/paths.h"

namespace zun {

std::string NativePath(WStringView path) {
  std::string native = ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace zun
