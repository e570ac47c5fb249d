// The reference every figure is divided by: the same line handed to write(2)
// on an O_APPEND descriptor, with nothing but the counter put in per call.
#include <fcntl.h>
#include <unistd.h>

#include "bench_harness.h"

namespace {

class BareWrite final : public zbench::Target {
 public:
  ~BareWrite() override { Close(); }

  zbench::Status Open(const zbench::Setup& setup) override {
    if (setup.sink != zbench::Sink::kFile) return zbench::Status::kUnavailable;
    fd_ = open(setup.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    return fd_ >= 0 ? zbench::Status::kOk : zbench::Status::kFailed;
  }

  bool Log(std::uint32_t counter) override {
    // Each thread renders its prefix (time, process, thread) once.
    thread_local const std::string prefix = zbench::LinePrefix();
    char buffer[600];
    const std::string_view line = zbench::FormatLine(prefix, counter, buffer, sizeof buffer);
    return !line.empty() && write(fd_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  }

  bool DebugEnabled() override { return false; }
  bool LogDebug(std::uint32_t) override { return false; }
  bool Filters() const override { return false; }

  bool Close() override {
    const bool ok = fd_ < 0 || close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  return zbench::RunMain(argc, argv, [] { return std::make_unique<BareWrite>(); });
}
