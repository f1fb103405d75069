// Linked into the suites that drive channels: the process-wide binding, loaded on first use,
// then loads the fake driver library that the tests configure.
#include <cstdlib>

namespace {
const bool FakeSelected = setenv("KVX_FTD2XX_LIBRARY", KVX_FAKE_FTD2XX, 1) == 0;
}  // namespace
