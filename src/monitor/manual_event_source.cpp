#include "monitor/manual_event_source.h"

#include <chrono>
#include <utility>

namespace vorlin {

namespace {
// Only a safety net against a test hanging forever; events are normally handled at once.
constexpr std::chrono::seconds wait_limit{30};
}  // namespace

bool manual_event_source::open(scan_request scan) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_fails_) return false;
  sent_scan_ = std::move(scan);
  opened_ = true;
  return true;
}

void manual_event_source::start_timer() {
  std::lock_guard<std::mutex> lock(mutex_);
  timer_started_ = true;
}

void manual_event_source::run(const scan_request& scan) {
  std::unique_lock<std::mutex> lock(mutex_);
  running_ = true;
  changed_.notify_all();
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) break;
    const event e = queue_.front();
    queue_.pop_front();
    // Scan without the lock, so the test thread can deliver meanwhile.
    lock.unlock();
    if (e == event::sent_change) {
      sent_scan_();
    } else {
      scan();
    }
    lock.lock();
    ++handled_;
    changed_.notify_all();
  }
  running_ = false;
}

void manual_event_source::deliver(event e) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(e);
  ++delivered_;
  changed_.notify_all();
}

void manual_event_source::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  changed_.notify_all();
}

bool manual_event_source::wait_until_running() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, wait_limit, [this] { return running_; });
}

bool manual_event_source::wait_until_idle() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, wait_limit, [this] { return handled_ == delivered_; });
}

bool manual_event_source::opened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opened_;
}

bool manual_event_source::timer_started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timer_started_;
}

std::size_t manual_event_source::handled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handled_;
}

}  // namespace vorlin
