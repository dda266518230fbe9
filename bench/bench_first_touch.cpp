// What filling a download buffer costs apart from any transfer: a TIdMemoryStream receives SIZE
// bytes in 32 KiB writes, as the receive path hands them over, either sized once beforehand
// (an announced length) or grown as the bytes come (no length). The time is dominated by the
// kernel handing out fresh pages on first touch, which is what this makes visible.
//
//   bench_first_touch SIZE_MIB [sized|grown]
//
// Prints wall, user and system seconds, minor page faults, peak resident memory and the
// buffer's final capacity.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/TIdStream.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr size_t kBlock = 32768;

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: bench_first_touch SIZE_MIB [sized|grown]\n");
    return 2;
  }
  const int64_t size = std::strtoll(argv[1], nullptr, 10) * kMiB;
  const std::string mode = argc == 3 ? argv[2] : "sized";
  if (size <= 0 || (mode != "sized" && mode != "grown")) {
    std::fprintf(stderr, "usage: bench_first_touch SIZE_MIB [sized|grown]\n");
    return 2;
  }
  std::vector<uint8_t> block(kBlock, 0x5a);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  {
    kv::net::TIdMemoryStream stream;
    if (mode == "sized") {
      stream.SetSize(size);
    }
    for (int64_t done = 0; done < size; done += static_cast<int64_t>(kBlock)) {
      stream.Write(block.data(), kBlock);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::printf(
        "mode=%s size=%lld wall=%.3f user=%.3f sys=%.3f minflt=%ld maxrss_kib=%ld "
        "capacity=%lld\n",
        mode.c_str(), static_cast<long long>(size), std::chrono::duration<double>(elapsed).count(),
        Seconds(after.ru_utime) - Seconds(before.ru_utime),
        Seconds(after.ru_stime) - Seconds(before.ru_stime), after.ru_minflt - before.ru_minflt,
        after.ru_maxrss, static_cast<long long>(stream.Capacity()));
  }
  return 0;
}
