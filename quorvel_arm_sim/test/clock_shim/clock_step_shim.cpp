// Preloaded into a program under test (LD_PRELOAD) to set its wall clock while it runs, without
// touching the machine's: CLOCK_REALTIME reads are shifted by the whole seconds written in the
// file named by CLOCK_STEP_FILE (e.g. "3600" one hour ahead, "0" back to the real time; a
// missing or empty file shifts nothing). The file is read again at most every 20 ms of the
// monotonic clock, so a test steps the clock by writing the file.
#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace
{

using ClockGettime = int (*)(clockid_t, timespec *);

std::atomic<long> g_offset_s{0};
std::atomic<long long> g_next_read_ns{0};

ClockGettime real_clock_gettime()
{
  static const auto real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
  return real;
}

long long monotonic_ns(ClockGettime real)
{
  timespec now{};
  real(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void refresh_offset(ClockGettime real)
{
  const char * path = std::getenv("CLOCK_STEP_FILE");
  if (path == nullptr) {
    return;
  }
  const long long now = monotonic_ns(real);
  long long next = g_next_read_ns.load();
  if (now < next || !g_next_read_ns.compare_exchange_strong(next, now + 20000000LL)) {
    return;
  }
  long offset = 0;
  if (FILE * file = std::fopen(path, "r")) {
    if (std::fscanf(file, "%ld", &offset) != 1) {
      offset = 0;
    }
    std::fclose(file);
  }
  g_offset_s.store(offset);
}

}  // namespace

extern "C" int clock_gettime(clockid_t clock, timespec * time)
{
  const ClockGettime real = real_clock_gettime();
  if (real == nullptr) {
    return -1;
  }
  const int result = real(clock, time);
  if (result == 0 && clock == CLOCK_REALTIME) {
    refresh_offset(real);
    time->tv_sec += g_offset_s.load();
  }
  return result;
}
