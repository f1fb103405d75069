// Device server entries by host name when the name server never answers: the lookup is
// bounded and the operator reads which name could not be resolved. The server is made in a
// child run of this program, in namespaces of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "net/uci_SerialServer.h"
#include "tests/net/SilentNameServer.h"
#include "tests/net/TestServer.h"

namespace {

constexpr char kChildVariable[] = "KVX_SILENT_NAME_SERVER_CHILD";
constexpr int kCannotEnter = 77;

TEST(SilentNameServer, AnEntryWhoseNameCannotBeResolvedSaysSoNamingPortAndHost) {
  if (!getenv(kChildVariable)) {
    std::string output;
    const int status = RunThisProgram(
        "--gtest_filter=SilentNameServer.AnEntryWhoseNameCannotBeResolvedSaysSoNamingPortAndHost",
        kChildVariable, output);
    if (status == kCannotEnter) GTEST_SKIP() << output;
    EXPECT_EQ(status, 0) << output;
    return;
  }
  TSilentNameServer nameServer;
  if (const std::string why = nameServer.Enter(); !why.empty()) {
    std::fprintf(stderr, "a silent name server cannot be made here: %s\n", why.c_str());
    std::exit(kCannotEnter);
  }
  for (const char* scheme : {"rfc2217", "tcp"}) {
    SCOPED_TRACE(scheme);
    TPortEntry entry(std::string(scheme) + "://gw-hall3.plant.lan:4001");
    auto channel = Create<TSerialServerInterface>("comport=9");
    EXPECT_FALSE(channel->Open());
    EXPECT_EQ(channel->GetProblem(), "COM9: cannot resolve gw-hall3.plant.lan");
    EXPECT_FALSE(IsDeviceGone(*channel));  // not "was disconnected"
  }
}

}  // namespace
