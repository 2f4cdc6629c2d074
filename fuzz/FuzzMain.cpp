// The libFuzzer entry of one target; QV_FUZZ_TARGET names it (one program per target).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const qv::fuzz::FuzzTarget* const target = [] {
    const qv::fuzz::FuzzTarget* t = qv::fuzz::FindFuzzTarget(QV_FUZZ_TARGET);
    if (t == nullptr) {
      std::fprintf(stderr, "no fuzz target %s\n", QV_FUZZ_TARGET);
      std::abort();
    }
    return t;
  }();
  target->run(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
