#include "serial/AfPortMap.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "tests/support/TempDir.h"

namespace {

TEST(AfPortMap, NumbersMapToTheThreeDeviceFamilies) {
  unsetenv("KVX_COMPORTS");
  EXPECT_EQ(AfComPortPath(1), "/dev/ttyS0");
  EXPECT_EQ(AfComPortPath(32), "/dev/ttyS31");
  EXPECT_EQ(AfComPortPath(33), "/dev/ttyUSB0");
  EXPECT_EQ(AfComPortPath(64), "/dev/ttyUSB31");
  EXPECT_EQ(AfComPortPath(65), "/dev/ttyACM0");
  EXPECT_EQ(AfComPortPath(96), "/dev/ttyACM31");
  EXPECT_EQ(AfComPortPath(97), "");
  EXPECT_EQ(AfComPortPath(0), "");
}

TEST(AfPortMap, EnvironmentEntriesAddAndOverride) {
  setenv("KVX_COMPORTS", "7=/dev/pts/3; 200 = /tmp/ttyV0 ;;", 1);
  EXPECT_EQ(AfComPortPath(7), "/dev/pts/3");
  EXPECT_EQ(AfComPortPath(200), "/tmp/ttyV0");
  EXPECT_EQ(AfComPortPath(8), "/dev/ttyS7");
  unsetenv("KVX_COMPORTS");
  EXPECT_EQ(AfComPortPath(7), "/dev/ttyS6");
}

TEST(AfPortMap, PortsFileEntriesAddPortsAndTheEnvironmentWinsOnTheSameNumber) {
  TTempDir config;
  setenv("XDG_CONFIG_HOME", config.Dir().c_str(), 1);
  std::filesystem::create_directories(config.File("kvxsetup"));
  WriteBytes(config.File("kvxsetup/ports"),
             "# device servers in hall 3\n9=rfc2217://gw-hall3:4001\r\n10=tcp://[::1]:4002\n");
  setenv("KVX_COMPORTS", "10=/dev/pts/7", 1);
  EXPECT_EQ(AfComPortPath(9), "rfc2217://gw-hall3:4001");
  EXPECT_EQ(AfComPortPath(10), "/dev/pts/7");
  unsetenv("KVX_COMPORTS");
  EXPECT_EQ(AfComPortPath(10), "tcp://[::1]:4002");
  EXPECT_EQ(AfComPortPath(11), "/dev/ttyS10");
  // A long file is read once for every port a command asks for (each port reading it again
  // took 20 s for 10 MB, reading it once 0.14 s, 3 s under the thread sanitizer); a changed
  // file is read again.
  std::string comments;
  while (comments.size() < 10'000'000)
    comments += "# a long history of the hall's device servers\n";
  WriteBytes(config.File("kvxsetup/ports"), comments + "9=rfc2217://gw-hall4:4001\n");
  const auto start = std::chrono::steady_clock::now();
  for (int port = 1; port <= 255; ++port) AfComPortPath(port);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(AfComPortPath(9), "rfc2217://gw-hall4:4001");
  EXPECT_EQ(AfComPortPath(10), "/dev/ttyS9");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(AfPortMap, APortsFileThatIsNoPlainFileIsIgnoredAtOnce) {
  TTempDir config;
  setenv("XDG_CONFIG_HOME", config.Dir().c_str(), 1);
  std::filesystem::create_directories(config.File("kvxsetup"));
  const std::string ports = config.File("kvxsetup/ports");
  // A FIFO nobody writes to would block the open; /dev/zero would never end.
  const std::function<void()> makers[] = {
      [&] { ASSERT_EQ(mkfifo(ports.c_str(), 0600), 0); },
      [&] { std::filesystem::create_symlink("/dev/zero", ports); },
  };
  for (const auto& make : makers) {
    std::filesystem::remove(ports);
    make();
    SCOPED_TRACE(static_cast<int>(std::filesystem::status(ports).type()));
    EXPECT_EQ(AfComPortPath(9), "/dev/ttyS8");
  }
  unsetenv("XDG_CONFIG_HOME");
}

TEST(AfPortMap, MalformedEntriesAreNamedAndGoodOnesStillTaken) {
  std::map<std::int32_t, std::string> Map;
  EXPECT_EQ(AfParseComPortMap("7=/dev/a;x=/dev/b;9=/dev/c", Map),
            "malformed entry \"x=/dev/b\" (expected number=path)");
  EXPECT_EQ(Map.size(), 2u);
  EXPECT_EQ(Map[9], "/dev/c");
  Map.clear();
  EXPECT_NE(AfParseComPortMap("0=/dev/a", Map), "");
  EXPECT_NE(AfParseComPortMap("70000=/dev/a", Map), "");
  EXPECT_NE(AfParseComPortMap("5=", Map), "");
  EXPECT_NE(AfParseComPortMap("/dev/ttyUSB0", Map), "");
  EXPECT_TRUE(Map.empty());
  EXPECT_EQ(AfParseComPortMap("5=/dev/a;5=/dev/b", Map), "");
  EXPECT_EQ(Map[5], "/dev/b");
}

TEST(AfPortMap, OnlyLegacyUartNodesAreCheckedInSysfs) {
  EXPECT_FALSE(AfIsEmptyLegacyPort("/dev/pts/3"));
  EXPECT_FALSE(AfIsEmptyLegacyPort("/dev/ttyUSB0"));
  EXPECT_FALSE(AfIsEmptyLegacyPort("/dev/ttyS"));
  EXPECT_FALSE(AfIsEmptyLegacyPort("/dev/ttySX1"));
  EXPECT_FALSE(AfIsEmptyLegacyPort("/dev/ttyS99999"));  // no sysfs entry: not judged empty
}

TEST(AfPortMap, EveryMalformedEntryIsNamedWithWhatIsWrong) {
  struct TCase {
    const char* Entry;
    const char* Error;
  };
  const TCase cases[] = {
      {"0=/dev/a", "malformed entry \"0=/dev/a\" (COM numbers 1 to 255)"},
      {"256=/dev/a", "malformed entry \"256=/dev/a\" (COM numbers 1 to 255)"},
      {"a:b:c", "malformed entry \"a:b:c\" (expected number=path)"},
      {"9=tcp://gw:70000",
       "malformed entry \"9=tcp://gw:70000\" ('tcp://gw:70000' is not a "
       "serial device server URL (port 1 to 65535 expected))"},
      {"9=tcp://gw:0",
       "malformed entry \"9=tcp://gw:0\" ('tcp://gw:0' is not a serial device "
       "server URL (port 1 to 65535 expected))"},
      {"9=rfc2217://",
       "malformed entry \"9=rfc2217://\" ('rfc2217://' is not a serial device "
       "server URL (HOST:PORT expected))"},
      {"9=tcp://a:b:c",
       "malformed entry \"9=tcp://a:b:c\" ('tcp://a:b:c' is not a serial "
       "device server URL (an IPv6 address goes in [ ]))"},
      {"9=rfc2217://[::1",
       "malformed entry \"9=rfc2217://[::1\" ('rfc2217://[::1' is not a "
       "serial device server URL (unclosed '['))"},
      {"9=tcp://[[]:5",
       "malformed entry \"9=tcp://[[]:5\" ('tcp://[[]:5' is not a serial device "
       "server URL (no host name or address))"},
  };
  std::string all, expected;
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Entry);
    std::map<std::int32_t, std::string> map;
    EXPECT_EQ(AfParseComPortMap(std::string("7=/dev/a;") + test.Entry, map), test.Error);
    EXPECT_EQ(map[7], "/dev/a");
    all += std::string(test.Entry) + ";";
    expected += (expected.empty() ? "" : "\n") + std::string(test.Error);
  }
  std::map<std::int32_t, std::string> map;
  EXPECT_EQ(AfParseComPortMap(all, map), expected);
}

TEST(AfPortMap, BadLinesOfThePortsFileAreEachNamedByNumberAndABadUrlStillClaimsItsPort) {
  TTempDir config;
  setenv("XDG_CONFIG_HOME", config.Dir().c_str(), 1);
  std::filesystem::create_directories(config.File("kvxsetup"));
  WriteBytes(config.File("kvxsetup/ports"),
             "# hall 3\n9=rfc2217://gw-hall3:0\n10=tcp://gw:4002\n300=/dev/pts/1\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(AfComPortPath(9), "rfc2217://gw-hall3:0");
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string file = config.File("kvxsetup/ports");
  EXPECT_EQ(said, file +
                      ": line 2: malformed entry \"9=rfc2217://gw-hall3:0\" "
                      "('rfc2217://gw-hall3:0' is not a serial device server URL (port 1 to "
                      "65535 expected))\n" +
                      file +
                      ": line 4: malformed entry \"300=/dev/pts/1\" (COM numbers 1 to 255)\n");
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
