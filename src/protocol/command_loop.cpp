#include "protocol/command_loop.h"

#include <cctype>
#include <cstring>

namespace vorlin {
namespace {

// At most 255 characters and the terminator per read; a longer line arrives in pieces, each
// handled as a line of its own.
constexpr int line_buffer_size = 256;

bool begins_with(const char* line, const char* word) {
  return std::strncmp(line, word, std::strlen(word)) == 0;
}

const char* skip_white_space(const char* p) {
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

void answer_list(service_state& state, bool& gate_waited) {
  if (!gate_waited) state.initial_scan_gate.wait();
  state.output.write_list_event(state.table.port_table_snapshot());
  gate_waited = true;
}

// The initial ports and the switch to streaming happen so that the host's view equals the table
// after the burst. output_lock is taken before table_lock and held across the whole burst; the
// snapshot and the switch to SYNC_STREAMING happen under one hold of table_lock. A port update of
// the monitor thread either comes before the snapshot (it is in the burst) or after it (it sees
// SYNC_STREAMING and its event waits for output_lock, so it follows the burst). The monitor never
// holds table_lock while it waits for output_lock, so taking output_lock then table_lock here
// cannot deadlock.
void answer_start_sync(service_state& state, bool& gate_waited) {
  state.sync_state = SYNC_IDLE;
  state.output.write_event("%s", start_sync_reply);
  if (!gate_waited) state.initial_scan_gate.wait();
  state.output.lock_output();
  state.table.lock_table();
  const port_snapshot snapshot = state.table.snapshot_locked();
  state.sync_state = SYNC_STREAMING;
  state.table.unlock_table();
  if (state.after_sync_snapshot) state.after_sync_snapshot(snapshot);
  state.output.write_add_events(snapshot);
  state.output.unlock_output();
  gate_waited = true;
}

}  // namespace

bool is_hello_line(const char* line) {
  if (!begins_with(line, "HELLO")) return false;
  const char* p = skip_white_space(line + 5);
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
  p = skip_white_space(p);
  if (*p != '"') return false;
  ++p;
  return *p != '\0' && *p != '"' && *p != '\r' && *p != '\n';
}

int command_loop(service_state& state, std::FILE* in, const monitor_starter& start_monitor) {
  // Without a monitor thread nobody would open the gate, and the first "LIST" would wait forever:
  // answer from the (empty) table instead.
  if (!start_monitor || !start_monitor()) state.initial_scan_gate.open();

  bool gate_waited = false;
  char line_buffer[line_buffer_size];
  while (std::fgets(line_buffer, line_buffer_size, in) != nullptr) {
    const char* line = line_buffer;
    if (begins_with(line, "LIST")) {
      answer_list(state, gate_waited);
    } else if (is_hello_line(line)) {
      state.output.write_event("%s", hello_reply);
      state.sync_state = SYNC_IDLE;
    } else if (begins_with(line, "START_SYNC")) {
      answer_start_sync(state, gate_waited);
    } else if (begins_with(line, "START")) {
      state.output.write_event("%s", start_reply);
      state.sync_state = SYNC_POLLING;
    } else if (begins_with(line, "STOP")) {
      state.sync_state = SYNC_IDLE;
      state.output.write_event("%s", stop_reply);
    } else if (begins_with(line, "QUIT")) {
      state.output.write_event("%s", quit_reply);
      state.sync_state = SYNC_QUIT;
    }
    if (state.sync_state == SYNC_QUIT) break;
  }
  return 0;
}

}  // namespace vorlin
