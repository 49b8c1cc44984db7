// Preloaded into a program under test (LD_PRELOAD) to watch its memory without changing it.
// It counts what the program holds from malloc (every allocation function passes through here,
// each block counted at its usable size) and a thread of its own appends one line a period to
// a file:  MS LIVE_BYTES IN_USE_BYTES RSS_KB
//   LIVE_BYTES    allocated and not freed: what the program's own data takes
//   IN_USE_BYTES  malloc's own count (mallinfo2: all arenas, mmapped blocks included), which
//                 also holds what its per-thread caches keep
//   RSS_KB        resident memory
// The environment sets it up:
//   QUORVEL_HEAP_PROBE      the file (nothing is sampled without it)
//   QUORVEL_HEAP_PROBE_MS   the period in ms (default 1000)
//   QUORVEL_RESULT_RETENTION_S  when set, the action servers the program creates keep their
//                 finished goals this many seconds instead of 15 minutes, so that a test sees
//                 the retention window fill and empty in minutes
#include <malloc.h>
#include <rcl_action/action_server.h>

#include <dlfcn.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

extern "C" {
void * __libc_malloc(size_t size);
void __libc_free(void * ptr);
void * __libc_calloc(size_t count, size_t size);
void * __libc_realloc(void * ptr, size_t size);
void * __libc_memalign(size_t alignment, size_t size);
}

namespace
{

std::atomic<long long> g_live{0};

void * counted(void * ptr)
{
  if (ptr != nullptr) {
    g_live.fetch_add(static_cast<long long>(malloc_usable_size(ptr)), std::memory_order_relaxed);
  }
  return ptr;
}

long rss_kb()
{
  long pages = 0;
  long resident = 0;
  if (std::FILE * statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
      resident = 0;
    }
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void sample_forever(const std::string path, const int period_ms)
{
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    const struct mallinfo2 info = mallinfo2();
    if (std::FILE * out = std::fopen(path.c_str(), "a")) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
      std::fprintf(
          out,
          "%lld %lld %zu %ld\n",
          static_cast<long long>(ms),
          g_live.load(std::memory_order_relaxed),
          info.uordblks + info.hblkhd,
          rss_kb());
      std::fclose(out);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(period_ms));
  }
}

__attribute__((constructor)) void start_sampling()
{
  const char * path = std::getenv("QUORVEL_HEAP_PROBE");
  if (path == nullptr || *path == '\0') {
    return;
  }
  const char * period = std::getenv("QUORVEL_HEAP_PROBE_MS");
  const int period_ms = period != nullptr ? std::max(10, std::atoi(period)) : 1000;
  std::thread(sample_forever, std::string(path), period_ms).detach();
}

}  // namespace

extern "C" {

void * malloc(size_t size) { return counted(__libc_malloc(size)); }

void free(void * ptr)
{
  if (ptr != nullptr) {
    g_live.fetch_sub(static_cast<long long>(malloc_usable_size(ptr)), std::memory_order_relaxed);
    __libc_free(ptr);
  }
}

void * calloc(size_t count, size_t size) { return counted(__libc_calloc(count, size)); }

void * realloc(void * ptr, size_t size)
{
  const long long before = ptr != nullptr ? static_cast<long long>(malloc_usable_size(ptr)) : 0;
  void * moved = __libc_realloc(ptr, size);
  if (moved != nullptr) {
    g_live.fetch_add(
        static_cast<long long>(malloc_usable_size(moved)) - before, std::memory_order_relaxed);
  } else if (ptr != nullptr && size == 0) {
    g_live.fetch_sub(before, std::memory_order_relaxed);  // realloc(p, 0) freed it
  }
  return moved;
}

void * memalign(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }

void * aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void ** out, size_t alignment, size_t size)
{
  void * ptr = memalign(alignment, size);
  if (ptr == nullptr) {
    return ENOMEM;
  }
  *out = ptr;
  return 0;
}

void * valloc(size_t size) { return memalign(4096, size); }

// The supervisor's action server is created with the library's default options: a shorter
// retention where the test asks for one.
rcl_action_server_options_t rcl_action_server_get_default_options(void)
{
  using Fn = rcl_action_server_options_t (*)(void);
  static const Fn real =
      reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "rcl_action_server_get_default_options"));
  rcl_action_server_options_t options = real();
  if (const char * seconds = std::getenv("QUORVEL_RESULT_RETENTION_S")) {
    options.result_timeout.nanoseconds = static_cast<int64_t>(std::atof(seconds) * 1e9);
  }
  return options;
}

}  // extern "C"
