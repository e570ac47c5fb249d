// log4cplus in the comparison: the standard line through a PatternLayout
// (%d is UTC, %T the kernel thread id, %i the process id). A size-rolled log
// uses its lock file, which is what lets several processes share it.
#include <log4cplus/asyncappender.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/helpers/property.h>
#include <log4cplus/helpers/snprintf.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include "bench_harness.h"

namespace {

using zbench::Sink;
using zbench::Status;

class Log4cplus final : public zbench::Target {
 public:
  ~Log4cplus() override { Close(); }

  Status Open(const zbench::Setup& setup) override {
    try {
      initializer_ = std::make_unique<log4cplus::Initializer>();
      log4cplus::helpers::Properties file;
      file.setProperty("File", setup.path);
      file.setProperty("Append", "true");
      file.setProperty("ImmediateFlush", setup.sink == Sink::kBuffered ? "false" : "true");
      if (setup.sink == Sink::kRolled || setup.sink == Sink::kRolledDefault) {
        file.setProperty("MaxFileSize", std::to_string(zbench::kRolledFileBytes));
        file.setProperty("MaxBackupIndex", std::to_string(setup.files));
        file.setProperty("UseLockFile", setup.sink == Sink::kRolled ? "true" : "false");
        appender_ = new log4cplus::RollingFileAppender(file);
      } else if (setup.sink == Sink::kAsync) {
        log4cplus::SharedAppenderPtr target(new log4cplus::FileAppender(file));
        target->setLayout(MakeLayout());
        appender_ =
            new log4cplus::AsyncAppender(target, setup.queue != 0 ? static_cast<unsigned>(setup.queue) : 100);
      } else {
        appender_ = new log4cplus::FileAppender(file);
      }
      appender_->setLayout(MakeLayout());
      logger_ = log4cplus::Logger::getInstance(zbench::kLoggerName);
      logger_.setAdditivity(false);
      logger_.setLogLevel(log4cplus::INFO_LOG_LEVEL);
      logger_.addAppender(appender_);
      return Status::kOk;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "log4cplus: %s\n", e.what());
      return Status::kFailed;
    }
  }

  bool Log(std::uint32_t counter) override {
    Write(log4cplus::WARN_LOG_LEVEL, counter);
    return true;
  }
  bool DebugEnabled() override { return logger_.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL); }
  bool LogDebug(std::uint32_t counter) override {
    Write(log4cplus::DEBUG_LOG_LEVEL, counter);
    return true;
  }

  // Closing the asynchronous appender writes what is queued first.
  bool Close() override {
    if (appender_) {
      logger_.removeAllAppenders();
      appender_->close();
      appender_ = nullptr;
    }
    return true;
  }

 private:
  static std::unique_ptr<log4cplus::Layout> MakeLayout() {
    return std::make_unique<log4cplus::PatternLayout>(
        std::string("[%c] %p %d{%Y-%m-%d %H:%M:%S,%q} %h PID:%i THID:%T ID:%F:%L.") + zbench::kNumbers +
        " MSG:%m\r\n");
  }

  // What LOG4CPLUS_WARN_FMT does, with the caller's file identifier.
  void Write(log4cplus::LogLevel level, std::uint32_t counter) {
    if (!logger_.isEnabledFor(level)) return;
    log4cplus::helpers::snprintf_buf& buffer = log4cplus::detail::get_macro_body_snprintf_buf();
    const char* text =
        buffer.print("session %u of %s closed after %d ms", counter, zbench::kPeer, zbench::kDuration);
    log4cplus::detail::macro_forced_log(logger_, level, text, zbench::kFileId, zbench::kSourceLine, "Close");
  }

  std::unique_ptr<log4cplus::Initializer> initializer_;
  log4cplus::Logger logger_;
  log4cplus::SharedAppenderPtr appender_;
};

}  // namespace

int main(int argc, char** argv) {
  return zbench::RunMain(argc, argv, [] { return std::make_unique<Log4cplus>(); });
}
