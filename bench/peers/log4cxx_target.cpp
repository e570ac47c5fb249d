// log4cxx in the comparison: the standard line through a PatternLayout (the
// date in GMT); it has no conversion for the host or the process, so both
// are fixed text of the pattern, made when the logger is set up.
#include <unistd.h>

#include <log4cxx/asyncappender.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/rolling/fixedwindowrollingpolicy.h>
#include <log4cxx/rolling/rollingfileappender.h>
#include <log4cxx/rolling/sizebasedtriggeringpolicy.h>

#include "bench_harness.h"

namespace {

using zbench::Sink;
using zbench::Status;

const log4cxx::spi::LocationInfo kWhere(zbench::kFileId, "session.cpp", "Close", zbench::kSourceLine);

class Log4cxx final : public zbench::Target {
 public:
  ~Log4cxx() override { Close(); }

  Status Open(const zbench::Setup& setup) override {
    try {
      log4cxx::helpers::Pool pool;
      auto layout = std::make_shared<log4cxx::PatternLayout>(
          "[%c] %p %d{yyyy-MM-dd HH:mm:ss,SSS}{GMT} " + zbench::HostName() +
          " PID:" + std::to_string(getpid()) + " THID:%t ID:%F:%L." + zbench::kNumbers + " MSG:%m\r\n");
      if (setup.sink == Sink::kRolled || setup.sink == Sink::kRolledDefault) {
        auto rolling = std::make_shared<log4cxx::rolling::FixedWindowRollingPolicy>();
        rolling->setMinIndex(1);
        rolling->setMaxIndex(static_cast<int>(setup.files));
        rolling->setFileNamePattern(setup.path + ".%i");
        auto trigger = std::make_shared<log4cxx::rolling::SizeBasedTriggeringPolicy>();
        trigger->setMaxFileSize(zbench::kRolledFileBytes);
        auto file = std::make_shared<log4cxx::rolling::RollingFileAppender>();
        file->setRollingPolicy(rolling);
        file->setTriggeringPolicy(trigger);
        file->setLayout(layout);
        file->setFile(setup.path);
        file->setAppend(true);
        file->setImmediateFlush(setup.sink == Sink::kRolled);
        file->activateOptions(pool);
        appender_ = file;
      } else if (setup.sink == Sink::kBuffered) {
        auto file = std::make_shared<log4cxx::FileAppender>(layout, setup.path, true, true, 8192);
        file->setImmediateFlush(false);
        appender_ = file;
      } else {
        auto file = std::make_shared<log4cxx::FileAppender>(layout, setup.path, true);
        if (setup.sink == Sink::kAsync) {
          auto async = std::make_shared<log4cxx::AsyncAppender>();
          async->addAppender(file);
          if (setup.queue != 0) async->setBufferSize(static_cast<int>(setup.queue));
          async->activateOptions(pool);
          appender_ = async;
        } else {
          appender_ = file;
        }
      }
      logger_ = log4cxx::Logger::getLogger(zbench::kLoggerName);
      logger_->setAdditivity(false);
      logger_->setLevel(log4cxx::Level::getInfo());
      logger_->addAppender(appender_);
      return Status::kOk;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "log4cxx: %s\n", e.what());
      return Status::kFailed;
    }
  }

  bool Log(std::uint32_t counter) override {
    Write(log4cxx::Level::getWarn(), counter);
    return true;
  }
  bool DebugEnabled() override { return logger_->isDebugEnabled(); }
  bool LogDebug(std::uint32_t counter) override {
    Write(log4cxx::Level::getDebug(), counter);
    return true;
  }

  // Closing the asynchronous appender writes what is buffered first.
  bool Close() override {
    if (appender_ != nullptr) {
      logger_->removeAllAppenders();
      appender_->close();
      appender_.reset();
    }
    return true;
  }

 private:
  // What LOG4CXX_WARN does, with the caller's file identifier.
  void Write(const log4cxx::LevelPtr& level, std::uint32_t counter) {
    if (!logger_->isEnabledFor(level)) return;
    log4cxx::helpers::MessageBuffer message;
    logger_->forcedLog(level,
                       message.str(message << zbench::kMessageHead << counter << " of " << zbench::kPeer
                                           << " closed after " << zbench::kDuration << " ms"),
                       kWhere);
  }

  log4cxx::LoggerPtr logger_;
  log4cxx::AppenderPtr appender_;
};

}  // namespace

int main(int argc, char** argv) {
  return zbench::RunMain(argc, argv, [] { return std::make_unique<Log4cxx>(); });
}
