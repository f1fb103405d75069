#pragma once
// What the fuzz targets share: the libFuzzer entry point and a check that stops the run
// with a message when a property of the code under test does not hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size);

inline void FuzzCheck(bool Holds, const char* What) {
  if (Holds) return;
  std::fprintf(stderr, "fuzz property violated: %s\n", What);
  std::abort();
}

inline std::string FuzzBytes(const std::uint8_t* Data, std::size_t Size) {
  return std::string(reinterpret_cast<const char*>(Data), Size);
}
