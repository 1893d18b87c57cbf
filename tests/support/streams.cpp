#include "streams.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace vorlin::testing {

struct chunk_cookie {
  chunk_source source;
  std::string chunk;
  std::size_t given = 0;
};

namespace {

ssize_t read_chunk(void* cookie, char* buffer, std::size_t size) {
  auto* c = static_cast<chunk_cookie*>(cookie);
  while (c->given >= c->chunk.size()) {
    c->chunk.clear();
    c->given = 0;
    if (!c->source(c->chunk)) return 0;
  }
  const std::size_t count = std::min(size, c->chunk.size() - c->given);
  std::memcpy(buffer, c->chunk.data() + c->given, count);
  c->given += count;
  return static_cast<ssize_t>(count);
}

int close_chunk(void* cookie) {
  // The stream owned its cookie since open_chunk_stream released it.
  std::unique_ptr<chunk_cookie> owned(static_cast<chunk_cookie*>(cookie));
  return 0;
}

}  // namespace

std::FILE* open_chunk_stream(chunk_source source) {
  auto cookie = std::make_unique<chunk_cookie>();
  cookie->source = std::move(source);
  cookie_io_functions_t functions{};
  functions.read = read_chunk;
  functions.close = close_chunk;
  std::FILE* file = fopencookie(cookie.get(), "r", functions);
  if (file != nullptr) cookie.release();
  return file;
}

struct output_cookie {
  static ssize_t write(void* cookie, const char* buffer, std::size_t size) {
    auto* capture = static_cast<output_capture*>(cookie);
    std::lock_guard<std::mutex> hold(capture->mutex_);
    capture->pending_.append(buffer, size);
    capture->total_ += size;
    return static_cast<ssize_t>(size);
  }
};

output_capture::output_capture() {
  cookie_io_functions_t functions{};
  functions.write = output_cookie::write;
  file_ = fopencookie(this, "w", functions);
}

output_capture::~output_capture() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string output_capture::take() {
  std::fflush(file_);
  std::lock_guard<std::mutex> hold(mutex_);
  std::string taken;
  taken.swap(pending_);
  return taken;
}

std::size_t output_capture::total_bytes() {
  std::fflush(file_);
  std::lock_guard<std::mutex> hold(mutex_);
  return total_;
}

}  // namespace vorlin::testing
