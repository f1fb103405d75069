#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "comm/uTraceMonitor.h"
#include "comm/uci_ICommunicationInterface.h"
#include "sim/uInProcessChannel.h"
#include "sim/uScriptedPeer.h"
#include "support/uProgramArgs.h"
#include "tests/support/ScopedEnv.h"
#include "tools/kvx-trace/uTraceFormat.h"

namespace {

using namespace std::chrono_literals;

bool MonitorWith(std::vector<std::string> args) {
  SetProgramArgs(std::move(args));
  return InitTraceMonitor();
}

TEST(TraceMonitorSwitch, RecognisesDSTAndSTD) {
  EXPECT_TRUE(MonitorWith({"/usr/bin/kvxsetup", "/dst"}));
  EXPECT_TRUE(MonitorWith({"kvxsetup", "-STD"}));
  EXPECT_TRUE(MonitorWith({"kvxsetup", "  DST  "}));
  EXPECT_FALSE(MonitorWith({"kvxsetup", "DSTX"}));
  EXPECT_FALSE(MonitorWith({"kvxsetup", "--dst"}));
  EXPECT_FALSE(MonitorWith({"kvxsetup"}));
}

// A listener bound where kvx-trace would bind, in a private runtime directory.
class TListener {
 public:
  TListener() {
    dir_ =
        std::filesystem::temp_directory_path() / ("kvx-trace-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  ~TListener() {
    Stop();
    std::filesystem::remove_all(dir_);
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  void Start() {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = TraceMonitorSocketPath();
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  void CloseKeepingFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Stop() {
    CloseKeepingFile();
    std::filesystem::remove(TraceMonitorSocketPath());
  }
  // The next message, or nullopt when none comes within the wait.
  std::optional<std::string> Next(std::chrono::milliseconds wait = 500ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, n);
  }
  std::filesystem::path Dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  int fd_ = -1;
};

struct TraceMonitorTest : testing::Test {
  void SetUp() override { ASSERT_TRUE(MonitorWith({"kvxsetup", "DST"})); }
  void TearDown() override { MonitorWith({"kvxsetup"}); }
  TListener listener;
  std::shared_ptr<TScriptedPeer> peer = std::make_shared<TScriptedPeer>();
  TIntfPtr<TInProcessChannel> channel = Create<TInProcessChannel>("SIM1", peer);
};

TEST_F(TraceMonitorTest, SocketPathFollowsTheRuntimeDirectory) {
  EXPECT_EQ(TraceMonitorSocketPath(), (listener.Dir() / "TfMainTirmelTerm").string());
  ::unsetenv("XDG_RUNTIME_DIR");
  ScopedEnv state("XDG_STATE_HOME", "/home/op/.local/state");
  EXPECT_EQ(TraceMonitorSocketPath(), "/home/op/.local/state/kvxsetup/TfMainTirmelTerm");
}

// Without a runtime folder the monitor and the program meet in the user's private folder.
class PrivateFolderTest : public TraceMonitorTest {
 protected:
  void SetUp() override {
    TraceMonitorTest::SetUp();
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  const std::string state = (listener.Dir() / "state").string();
  const std::string folder = state + "/kvxsetup";
  ScopedEnv stateHome{"XDG_STATE_HOME", state};
};

TEST_F(PrivateFolderTest, WithoutRuntimeFolderTheSocketIsNeverInTmp) {
  ASSERT_TRUE(PrepareTraceMonitorDirectory());
  EXPECT_EQ(TraceMonitorSocketPath(), folder + "/TfMainTirmelTerm");
  EXPECT_EQ(TraceMonitorSocketPath().rfind("/tmp/TfMainTirmelTerm"), std::string::npos);
  EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
}

TEST_F(PrivateFolderTest, ProgramAndMonitorMeetInThePrivateFolder) {
  ASSERT_TRUE(PrepareTraceMonitorDirectory());
  listener.Start();
  channel->Open();
  ASSERT_EQ(channel->Write("x"), 1);
  EXPECT_EQ(listener.Next(), "\x01x");
}

TEST_F(PrivateFolderTest, AFolderOthersMayWriteIntoIsRefusedAndGetsNothing) {
  ASSERT_TRUE(PrepareTraceMonitorDirectory());
  listener.Start();
  std::filesystem::permissions(folder, std::filesystem::perms::all);
  EXPECT_FALSE(PrepareTraceMonitorDirectory());
  channel->Open();
  ASSERT_EQ(channel->Write("secret"), 6);
  EXPECT_FALSE(listener.Next(50ms)) << "a socket someone else may have placed gets nothing";
}

TEST_F(TraceMonitorTest, WritesAndReadsArriveAsOneMessageEach) {
  listener.Start();
  channel->Open();
  const std::string request("\x2A\x61\x00\x05\xFE", 5);
  ASSERT_EQ(channel->Write(request), 5);
  EXPECT_EQ(listener.Next(), std::string(1, '\x01') + request);
  peer->Send("OK\r");
  std::string data;
  channel->Read(data);
  EXPECT_EQ(data, "OK\r");
  EXPECT_EQ(listener.Next(), "\x02OK\r");
  channel->Read(data);  // an empty read sends nothing
  EXPECT_FALSE(listener.Next(50ms));
}

TEST_F(TraceMonitorTest, WithoutListenerWritesBehaveTheSame) {
  channel->Open();
  peer->AddReply({{0ms, "pong"}});
  std::string reply;
  channel->Query("ping", 20, reply);
  EXPECT_EQ(reply, "pong");
  EXPECT_EQ(peer->Written(), "ping");
  // A listener that comes later is found, since the socket is looked up for every message.
  listener.Start();
  EXPECT_EQ(channel->Write("x"), 1);
  EXPECT_EQ(listener.Next(), "\x01x");
  // One that went away without removing its socket file: still nothing happens.
  listener.CloseKeepingFile();
  ASSERT_TRUE(std::filesystem::exists(TraceMonitorSocketPath()));
  EXPECT_EQ(channel->Write("y"), 1);
  EXPECT_EQ(peer->Written(), "pingxy");
}

TEST_F(TraceMonitorTest, MonitorOffSendsNothing) {
  MonitorWith({"kvxsetup"});
  listener.Start();
  channel->Open();
  channel->Write("abc");
  EXPECT_FALSE(listener.Next(50ms));
}

TEST(TraceFormat, OneLinePerMessage) {
  std::tm parts{};
  parts.tm_year = 126;
  parts.tm_mon = 11;
  parts.tm_mday = 9;
  parts.tm_hour = 7;
  parts.tm_min = 5;
  parts.tm_sec = 3;
  parts.tm_isdst = -1;
  const auto time =
      std::chrono::system_clock::from_time_t(std::mktime(&parts)) + std::chrono::milliseconds(42);
  EXPECT_EQ(FormatTraceLine(time, std::string("\x01*a\x00\x05", 5)),
            "07:05:03.042 -> 2A 61 00 05  |*a..|");
  EXPECT_EQ(FormatTraceLine(time, "\x02OK\r"), "07:05:03.042 <- 4F 4B 0D  |OK.|");
  EXPECT_EQ(FormatTraceLine(time, "\x07\xFF"), "07:05:03.042 ?7 FF  |.|");
  EXPECT_EQ(FormatTraceLine(time, ""), "");
}

}  // namespace
