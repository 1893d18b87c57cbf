// Standard streams for the command loop that tests drive from code: an input whose lines are
// produced on demand (so a test can change the world or wait between two commands) and an output
// whose bytes are handed over as they are flushed (so a long run never holds all of its output).
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace vorlin::testing {

// Produces the next piece of input into `chunk`; false at the end of input.
using chunk_source = std::function<bool(std::string& chunk)>;

// A read-only stream that asks `source` for more whenever it has handed out everything it had.
// The stream owns nothing else; close it with std::fclose.
std::FILE* open_chunk_stream(chunk_source source);

// A write-only stream whose bytes collect in memory until taken.
class output_capture {
 public:
  output_capture();
  ~output_capture();
  output_capture(const output_capture&) = delete;
  output_capture& operator=(const output_capture&) = delete;

  std::FILE* file() { return file_; }
  // Flushes the stream and hands over what was written since the last call.
  std::string take();
  std::size_t total_bytes();

 private:
  friend struct output_cookie;
  std::mutex mutex_;
  std::string pending_;
  std::size_t total_ = 0;
  std::FILE* file_ = nullptr;
};

}  // namespace vorlin::testing
