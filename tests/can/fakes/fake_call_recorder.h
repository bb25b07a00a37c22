// What the scripted fake driver libraries keep alike: the log of calls a test reads back, and
// results queued per entry point that the next calls answer instead of their usual one.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace busprobe::fake {

template <class Result>
struct CallRecorder {
  std::mutex mutex;
  std::string log, logCopy;
  std::map<std::string, std::deque<Result>> failures;

  // One line of the log; the caller holds the mutex.
  void note(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log += line;
    log += '\n';
  }
  // Takes the next queued result of the entry point; false when none is queued.
  bool scripted(const char* entry, Result& result) {
    auto it = failures.find(entry);
    if (it == failures.end() || it->second.empty()) return false;
    result = it->second.front();
    it->second.pop_front();
    return true;
  }
  Result answer(const char* entry, Result otherwise) {
    Result r = otherwise;
    scripted(entry, r);
    return r;
  }
  // The log as a C string that stays valid until the next call; the caller holds the mutex.
  const char* logText() {
    logCopy = log;
    return logCopy.c_str();
  }
};

}  // namespace busprobe::fake
