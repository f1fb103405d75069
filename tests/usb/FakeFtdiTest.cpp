// The fake driver library behaves as the channel relies on: data from the far end arrive
// at the set speed and are announced through the event handle; unplugging fails the calls.
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "tests/usb/EchoPeer.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIcore.h"

namespace {

using namespace std::chrono_literals;

class FakeFtdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeFtdi_Reset();
    pthread_mutex_init(&Event.Mutex, nullptr);
    pthread_cond_init(&Event.Cond, nullptr);
    Event.Value = 0;
  }
  void TearDown() override {
    FakeFtdi_Reset();
    pthread_cond_destroy(&Event.Cond);
    pthread_mutex_destroy(&Event.Mutex);
  }
  FT_HANDLE Open(const char* serial) {
    FT_HANDLE h = nullptr;
    EXPECT_EQ(B.FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
    return h;
  }
  // Waits for a broadcast of the event, at most Limit; true when one came.
  bool WaitEvent(std::chrono::milliseconds limit) {
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += limit.count() / 1000;
    until.tv_nsec += (limit.count() % 1000) * 1000000;
    if (until.tv_nsec >= 1000000000) {
      until.tv_nsec -= 1000000000;
      ++until.tv_sec;
    }
    pthread_mutex_lock(&Event.Mutex);
    const int rc = pthread_cond_timedwait(&Event.Cond, &Event.Mutex, &until);
    pthread_mutex_unlock(&Event.Mutex);
    return rc == 0;
  }
  DWORD Waiting(FT_HANDLE h) {
    DWORD n = 0;
    EXPECT_EQ(B.FT_GetQueueStatus(h, &n), FT_OK);
    return n;
  }

  TFTDIBinding B{KVX_FAKE_FTD2XX};
  EVENT_HANDLE Event;
  TEchoPeer Peer;
};

TEST_F(FakeFtdiTest, EchoArrivesAtTheSetSpeedAndIsAnnounced) {
  FakeFtdi_AddAdapter("E1", "Echo", &Peer);
  FT_HANDLE h = Open("E1");
  ASSERT_EQ(B.FT_SetBaudRate(h, 9600), FT_OK);
  ASSERT_EQ(B.FT_SetEventNotification(h, 3, &Event), FT_OK);
  char out[] = "0123456789";  // ten bytes at 9600 bit/s: about 10.4 ms on the line
  DWORD written = 0;
  ASSERT_EQ(B.FT_Write(h, out, 10, &written), FT_OK);
  EXPECT_EQ(written, 10u);
  EXPECT_LT(Waiting(h), 10u);  // not all there at once

  std::string got;
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (got.size() < 10 && std::chrono::steady_clock::now() < until) {
    WaitEvent(50ms);
    char in[32];
    DWORD n = Waiting(h);
    DWORD read = 0;
    ASSERT_EQ(B.FT_Read(h, in, n, &read), FT_OK);
    got.append(in, read);
  }
  EXPECT_EQ(got, "0123456789");
  EXPECT_EQ(B.FT_Close(h), FT_OK);
}

TEST_F(FakeFtdiTest, ReceivedBytesWaitUntilReadOrPurged) {
  FakeFtdi_AddAdapter("E1", "Echo", nullptr);
  FT_HANDLE h = Open("E1");
  ASSERT_EQ(B.FT_SetEventNotification(h, 3, &Event), FT_OK);
  FakeFtdi_Receive("E1", "abc", 3);
  EXPECT_EQ(Waiting(h), 3u);
  char in[8];
  DWORD read = 0;
  ASSERT_EQ(B.FT_Read(h, in, 2, &read), FT_OK);
  EXPECT_EQ(std::string(in, read), "ab");
  EXPECT_EQ(Waiting(h), 1u);
  ASSERT_EQ(B.FT_Purge(h, FT_PURGE_RX), FT_OK);
  EXPECT_EQ(Waiting(h), 0u);
}

TEST_F(FakeFtdiTest, UnpluggedAdapterFailsItsCallsAndLeavesTheList) {
  FakeFtdi_AddAdapter("A", "", nullptr);
  FakeFtdi_AddAdapter("B", "", nullptr);
  FT_HANDLE h = Open("A");
  FakeFtdi_Unplug("A");
  DWORD count = 0;
  ASSERT_EQ(B.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 1u);
  DWORD n = 0;
  char data[] = "x";
  EXPECT_EQ(B.FT_Write(h, data, 1, &n), FT_IO_ERROR);
  EXPECT_EQ(B.FT_GetQueueStatus(h, &n), FT_IO_ERROR);
  EXPECT_EQ(B.FT_Close(h), FT_OK);
  FT_HANDLE again = nullptr;
  EXPECT_EQ(B.FT_OpenEx(const_cast<char*>("A"), FT_OPEN_BY_SERIAL_NUMBER, &again),
            FT_DEVICE_NOT_FOUND);
  FakeFtdi_Plug("A");
  EXPECT_EQ(B.FT_OpenEx(const_cast<char*>("A"), FT_OPEN_BY_SERIAL_NUMBER, &again), FT_OK);
  // A stale handle is not taken for the new one.
  EXPECT_EQ(B.FT_Write(h, data, 1, &n), FT_INVALID_HANDLE);
}

TEST_F(FakeFtdiTest, OpenAdapterIsBusyAndUnknownSerialIsNotFound) {
  FakeFtdi_AddAdapter("A", "", nullptr);
  Open("A");
  FT_HANDLE h = nullptr;
  EXPECT_EQ(B.FT_OpenEx(const_cast<char*>("A"), FT_OPEN_BY_SERIAL_NUMBER, &h),
            FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(B.FT_OpenEx(const_cast<char*>("Z"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
}

// A pseudo-terminal standing in for a simulator in another process.
class TPtyFarEnd {
 public:
  TPtyFarEnd() {
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    char name[128];
    if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0 &&
        ptsname_r(FMaster, name, sizeof name) == 0)
      Slave = name;
  }
  ~TPtyFarEnd() {
    if (FMaster >= 0) close(FMaster);
  }
  std::string ReadFor(std::chrono::milliseconds limit, std::size_t count) {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + limit;
    char buffer[64];
    while (got.size() < count && std::chrono::steady_clock::now() < until) {
      const ssize_t n = read(FMaster, buffer, sizeof buffer);
      if (n > 0)
        got.append(buffer, static_cast<std::size_t>(n));
      else
        std::this_thread::sleep_for(1ms);
    }
    return got;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(FMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::uint32_t LineSpeed() const {
    termios2 t;
    return ioctl(FMaster, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
  }
  std::string Slave;

 private:
  int FMaster = -1;
};

TEST_F(FakeFtdiTest, AdaptersFromTheEnvironmentRelayToTheirLine) {
  TPtyFarEnd far;
  ASSERT_FALSE(far.Slave.empty());
  setenv("KVX_FAKE_FTDI", ("=nothing;NOLINE=/nonexistent/tty;P1:Pty adapter=" + far.Slave).c_str(),
         1);
  EXPECT_EQ(FakeFtdi_LoadEnvironment(), 1);
  unsetenv("KVX_FAKE_FTDI");

  DWORD count = 0;
  ASSERT_EQ(B.FT_CreateDeviceInfoList(&count), FT_OK);
  ASSERT_EQ(count, 1u);
  char sn[kFTSerialNumberSize], desc[kFTDescriptionSize];
  ASSERT_EQ(B.FT_GetDeviceInfoDetail(0, nullptr, nullptr, nullptr, nullptr, sn, desc, nullptr),
            FT_OK);
  EXPECT_STREQ(sn, "P1");
  EXPECT_STREQ(desc, "Pty adapter");

  FT_HANDLE h = Open("P1");
  ASSERT_EQ(B.FT_SetBaudRate(h, 19200), FT_OK);
  ASSERT_EQ(B.FT_SetEventNotification(h, 3, &Event), FT_OK);
  char out[] = "ping";
  DWORD written = 0;
  ASSERT_EQ(B.FT_Write(h, out, 4, &written), FT_OK);
  EXPECT_EQ(far.ReadFor(2s, 4), "ping");
  EXPECT_EQ(far.LineSpeed(), 19200u);

  far.Send("pong");
  std::string got;
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (got.size() < 4 && std::chrono::steady_clock::now() < until) {
    WaitEvent(50ms);
    char in[16];
    DWORD read = 0;
    ASSERT_EQ(B.FT_Read(h, in, Waiting(h), &read), FT_OK);
    got.append(in, read);
  }
  EXPECT_EQ(got, "pong");
  EXPECT_EQ(B.FT_Close(h), FT_OK);
}

}  // namespace
