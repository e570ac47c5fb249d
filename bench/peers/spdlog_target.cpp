// spdlog in the comparison: the standard line through a pattern (upper-case
// level names through a custom flag, the time in UTC, CR LF).
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include "bench_harness.h"

namespace {

using zbench::Sink;
using zbench::Status;

class LevelName final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
    static constexpr std::string_view kNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "OFF"};
    const std::string_view name = kNames[static_cast<int>(msg.level)];
    dest.append(name.data(), name.data() + name.size());
  }
  std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<LevelName>(); }
};

const spdlog::source_loc kWhere{zbench::kFileId, zbench::kSourceLine, "Close"};

class Spdlog final : public zbench::Target {
 public:
  ~Spdlog() override { Close(); }

  Status Open(const zbench::Setup& setup) override {
    try {
      spdlog::sink_ptr sink;
      if (setup.sink == Sink::kRolled || setup.sink == Sink::kRolledDefault) {
        sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(setup.path, zbench::kRolledFileBytes,
                                                                      setup.files);
      } else {
        sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(setup.path);
      }
      if (setup.sink == Sink::kAsync) {
        pool_ = std::make_shared<spdlog::details::thread_pool>(
            setup.queue != 0 ? setup.queue : spdlog::details::default_async_q_size, 1);
        logger_ = std::make_shared<spdlog::async_logger>(zbench::kLoggerName, sink, pool_,
                                                         spdlog::async_overflow_policy::block);
      } else {
        logger_ = std::make_shared<spdlog::logger>(zbench::kLoggerName, sink);
      }
      auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::utc, "\r\n");
      formatter->add_flag<LevelName>('*').set_pattern("[%n] %* %Y-%m-%d %H:%M:%S,%e " + zbench::HostName() +
                                                      " PID:%P THID:%t ID:%g:%#." + zbench::kNumbers +
                                                      " MSG:%v");
      logger_->set_formatter(std::move(formatter));
      logger_->set_level(spdlog::level::info);
      if (setup.sink != Sink::kBuffered && setup.sink != Sink::kRolledDefault) {
        logger_->flush_on(spdlog::level::trace);
      }
      return Status::kOk;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "spdlog: %s\n", e.what());
      return Status::kFailed;
    }
  }

  bool Log(std::uint32_t counter) override {
    logger_->log(kWhere, spdlog::level::warn, "session {} of {} closed after {} ms", counter, zbench::kPeer,
                 zbench::kDuration);
    return true;
  }
  bool DebugEnabled() override { return logger_->should_log(spdlog::level::debug); }
  bool LogDebug(std::uint32_t counter) override {
    logger_->log(kWhere, spdlog::level::debug, "session {} of {} closed after {} ms", counter, zbench::kPeer,
                 zbench::kDuration);
    return true;
  }

  // The pool's destructor writes what is queued, then joins its thread.
  bool Close() override {
    if (logger_ != nullptr) logger_->flush();
    logger_.reset();
    pool_.reset();
    return true;
  }

 private:
  std::shared_ptr<spdlog::details::thread_pool> pool_;
  std::shared_ptr<spdlog::logger> logger_;
};

}  // namespace

int main(int argc, char** argv) {
  return zbench::RunMain(argc, argv, [] { return std::make_unique<Spdlog>(); });
}
