// The progress line. Prints on stderr and tells the interrupt handler whether
// a line stands open.
#include "packer/progress.h"

#include <chrono>
#include <cstdio>

#include "packer/platform.h"

namespace quorin::packer {

namespace {

// Set while a progress line stands unfinished on the terminal.
bool g_progress_line_open = false;

}  // namespace

ProgressFn progress_display(const ParsedArgs& parsed, const char* label) {
  if (parsed.values.count("--quiet") != 0 || !progress_terminal()) return nullptr;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  // Short work shows nothing: the first line comes after 0.3 s.
  auto last = start + std::chrono::milliseconds(300);
  bool shown = false;
  std::uint64_t last_done = 0;
  double smoothed_rate = 0;  // bytes per second, averaged over the updates
  return [label, start, last, shown, last_done, smoothed_rate](std::uint64_t done, std::uint64_t total) mutable {
    const auto now = Clock::now();
    if (done < total && now - last < std::chrono::milliseconds(200)) return;
    if (done >= total && !shown) return;
    // The rate since the last update, smoothed so that the time left follows
    // a rate that falls (or rises) instead of the average since the start.
    const double interval = std::chrono::duration<double>(now - (shown ? last : start)).count();
    if (interval > 0 && done >= last_done) {
      const double recent = static_cast<double>(done - last_done) / interval;
      smoothed_rate = shown ? 0.7 * smoothed_rate + 0.3 * recent : recent;
    }
    last = now;
    last_done = done;
    shown = true;
    const double mib = 1024.0 * 1024.0;
    const double left = smoothed_rate > 0 && total > done ? static_cast<double>(total - done) / smoothed_rate : 0;
    const int percent = total > 0 ? static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100;
    // "\r" and the clearing of the line's rest ("\033[K") rewrite it in place.
    std::fprintf(stderr, "\r%s: %.1f of %.1f MiB (%d%%), %.1f MiB/s, %ds left\033[K", label, done / mib,
                 total / mib, percent, smoothed_rate / mib, static_cast<int>(left + 0.5));
    g_progress_line_open = done < total;
    note_progress_line(g_progress_line_open);
    if (done >= total) std::fputc('\n', stderr);
    std::fflush(stderr);
  };
}

void end_progress_line() {
  if (!g_progress_line_open) return;
  std::fputc('\n', stderr);
  g_progress_line_open = false;
  note_progress_line(false);
}

}  // namespace quorin::packer
