// An event source whose events are delivered by hand, for tests and the simulator: each
// delivered tick or change becomes one scan on the monitor thread, and the caller can wait until
// all of them were handled instead of sleeping.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "monitor/event_source.h"

namespace vorlin {

class manual_event_source : public monitor_event_source {
 public:
  enum class event { tick, change, sent_change };

  // Makes open() fail, as a window that cannot be created.
  void fail_open() { open_fails_ = true; }

  bool open(scan_request scan) override;
  void start_timer() override;
  void run(const scan_request& scan) override;

  // Queues an event for run(). A sent change is handled through the callback given to open(),
  // the way the platform hands a sent message to the window procedure; the others through the
  // one given to run().
  void deliver(event e);
  // run() returns once the events delivered before are handled.
  void stop();

  // Waits until run() has started, that is until start-up (both start-up scans) is over.
  // false when it has not within the time limit.
  bool wait_until_running();
  // Waits until every delivered event has been handled. false when not within the time limit.
  bool wait_until_idle();

  bool opened() const;
  bool timer_started() const;
  std::size_t handled() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<event> queue_;
  scan_request sent_scan_;
  bool open_fails_ = false;
  bool opened_ = false;
  bool timer_started_ = false;
  bool running_ = false;
  bool stopping_ = false;
  std::size_t delivered_ = 0;
  std::size_t handled_ = 0;
};

}  // namespace vorlin
