#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/uMessages.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIcore.h"

namespace {

class MessageCapture {
 public:
  MessageCapture() {
    FPrevious = SetMessageHandler([this](const std::string& text) { Messages.push_back(text); });
  }
  ~MessageCapture() { SetMessageHandler(FPrevious); }
  std::vector<std::string> Messages;

 private:
  TMessageHandler FPrevious;
};

TEST(FTDIBinding, WithoutLibraryEveryGuardAnswersNotAvailable) {
  TFTDIBinding b("/nonexistent/libftd2xx.so");
  EXPECT_FALSE(b.Loaded());
  EXPECT_EQ(b.BoundCount(), 0);
  FT_HANDLE h = reinterpret_cast<FT_HANDLE>(0x100);
  DWORD n = 123;
  char buf[4] = {};
  EXPECT_EQ(b.FT_SetDataCharacteristics(h, 8, 0, 0), kFTNotAvailable);
  EXPECT_EQ(b.FT_Write(h, buf, 4, &n), kFTNotAvailable);
  EXPECT_EQ(b.FT_Read(h, buf, 4, &n), kFTNotAvailable);
  EXPECT_EQ(b.FT_Close(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_SetBaudRate(h, 9600), kFTNotAvailable);
  EXPECT_EQ(b.FT_ResetDevice(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_SetDtr(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_ClrDtr(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_SetRts(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_ClrRts(h), kFTNotAvailable);
  EXPECT_EQ(b.FT_Purge(h, FT_PURGE_RX), kFTNotAvailable);
  EXPECT_EQ(b.FT_GetQueueStatus(h, &n), kFTNotAvailable);
  EXPECT_EQ(b.FT_ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), kFTNotAvailable);
  EXPECT_EQ(b.FT_OpenEx(buf, FT_OPEN_BY_SERIAL_NUMBER, &h), kFTNotAvailable);
  EXPECT_EQ(b.FT_CreateDeviceInfoList(&n), kFTNotAvailable);
  EXPECT_EQ(b.FT_GetDeviceInfoDetail(0, &n, &n, &n, &n, buf, buf, &h), kFTNotAvailable);
  EXPECT_EQ(b.FT_SetEventNotification(h, 3, nullptr), kFTNotAvailable);
  EXPECT_EQ(b.FT_EraseEE(h), kFTNotAvailable);
  // Nothing was written through the out arguments.
  EXPECT_EQ(n, 123u);
  EXPECT_EQ(h, reinterpret_cast<FT_HANDLE>(0x100));
}

TEST(FTDIBinding, AMissingLibraryIsExplainedInTheLoadersWords) {
  TFTDIBinding b("/nonexistent/libftd2xx.so");
  ASSERT_EQ(b.LoaderTexts().size(), 1u);
  EXPECT_NE(b.LoaderTexts()[0].find("/nonexistent/libftd2xx.so"), std::string::npos);
  EXPECT_NE(b.LoaderTexts()[0].find("No such file"), std::string::npos) << b.LoaderTexts()[0];
}

TEST(FTDIBinding, EachMissingEntryPointIsNamedOnceInTheLoadersWords) {
  TFTDIBinding b(KVX_PARTIAL_FTD2XX);
  // 28 slots: FT_Close and FT_ListDevices (three slots) are there, 24 names are not.
  ASSERT_EQ(b.LoaderTexts().size(), 24u);
  EXPECT_NE(b.LoaderTexts()[0].find("FT_Write"), std::string::npos) << b.LoaderTexts()[0];
  EXPECT_NE(b.LoaderTexts()[0].find("undefined symbol"), std::string::npos);
}

TEST(FTDIBinding, ACompleteLibraryLeavesTheLoaderSilent) {
  TFTDIBinding b(KVX_FAKE_FTD2XX);
  EXPECT_TRUE(b.LoaderTexts().empty());
}

TEST(FTDIBinding, MissingEntryPointsAnswerNotAvailableOthersAreCalled) {
  TFTDIBinding b(KVX_PARTIAL_FTD2XX);
  ASSERT_TRUE(b.Loaded());
  EXPECT_EQ(b.BoundCount(), 4);  // FT_Close and the three FT_ListDevices slots
  EXPECT_EQ(b.FT_Close(reinterpret_cast<FT_HANDLE>(1)), 77u);
  DWORD count = 0;
  EXPECT_EQ(b.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(b.FT_Write(reinterpret_cast<FT_HANDLE>(1), nullptr, 0, nullptr), kFTNotAvailable);
  EXPECT_EQ(b.FT_ResetDevice(reinterpret_cast<FT_HANDLE>(1)), kFTNotAvailable);
}

class FTDIBindingOnFake : public ::testing::Test {
 protected:
  void SetUp() override { FakeFtdi_Reset(); }
  void TearDown() override { FakeFtdi_Reset(); }
  TFTDIBinding B{KVX_FAKE_FTD2XX};
};

TEST_F(FTDIBindingOnFake, FindsAllEntryPoints) {
  ASSERT_TRUE(B.Loaded());
  EXPECT_EQ(B.BoundCount(), 28);
}

TEST_F(FTDIBindingOnFake, ResetDeviceRefusesHandleZeroWithoutCalling) {
  EXPECT_EQ(B.FT_ResetDevice(nullptr), kFTNotAvailable);
  EXPECT_EQ(FakeFtdi_CallCount("FT_ResetDevice"), 0);
  // Other guards pass handle 0 on and return the driver's answer.
  EXPECT_EQ(B.FT_SetDtr(nullptr), FT_INVALID_HANDLE);
  EXPECT_EQ(FakeFtdi_CallCount("FT_SetDtr"), 1);
}

TEST_F(FTDIBindingOnFake, PassesArgumentsAndStatusesUnchanged) {
  FakeFtdi_AddAdapter("A1", "Adapter one", nullptr);
  FakeFtdi_AddAdapter("B2", "Adapter two", nullptr);
  DWORD count = 0;
  ASSERT_EQ(B.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
  EXPECT_EQ(count, 2u);

  FT_HANDLE h = nullptr;
  char serial[] = "B2";
  ASSERT_EQ(B.FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(FakeFtdi_IsOpen("B2"));
  EXPECT_FALSE(FakeFtdi_IsOpen("A1"));
  EXPECT_EQ(B.FT_SetBaudRate(h, 19200), FT_OK);
  EXPECT_EQ(FakeFtdi_BaudRate("B2"), 19200u);
  EXPECT_EQ(B.FT_ResetDevice(h), FT_OK);

  FakeFtdi_FailEntry("FT_Purge", FT_IO_ERROR);
  EXPECT_EQ(B.FT_Purge(h, FT_PURGE_RX), FT_IO_ERROR);
  FakeFtdi_FailEntry("FT_Purge", 0);
  EXPECT_EQ(B.FT_Purge(h, FT_PURGE_RX), FT_OK);

  ASSERT_EQ(B.FT_CreateDeviceInfoList(&count), FT_OK);
  char sn[kFTSerialNumberSize];
  char desc[kFTDescriptionSize];
  DWORD flags, type, id, loc;
  FT_HANDLE listed;
  ASSERT_EQ(B.FT_GetDeviceInfoDetail(1, &flags, &type, &id, &loc, sn, desc, &listed), FT_OK);
  EXPECT_STREQ(sn, "B2");
  EXPECT_STREQ(desc, "Adapter two");
  EXPECT_EQ(B.FT_Close(h), FT_OK);
  EXPECT_FALSE(FakeFtdi_IsOpen("B2"));
}

TEST(FTDIBinding, LibraryNameComesFromTheEnvironment) {
  const char* saved = std::getenv("KVX_FTD2XX_LIBRARY");
  const std::string keep = saved ? saved : "";
  setenv("KVX_FTD2XX_LIBRARY", "/opt/x/libother.so", 1);
  EXPECT_EQ(FTDILibraryName(), "/opt/x/libother.so");
  setenv("KVX_FTD2XX_LIBRARY", "", 1);
  EXPECT_EQ(FTDILibraryName(), "libftd2xx.so");
  unsetenv("KVX_FTD2XX_LIBRARY");
  EXPECT_EQ(FTDILibraryName(), "libftd2xx.so");
  if (saved) setenv("KVX_FTD2XX_LIBRARY", keep.c_str(), 1);
}

TEST(FTStatusReport, ShowsLabelAndTextForDriverFailures) {
  MessageCapture capture;
  FTStatusReport("GetFTDeviceCount", FT_DEVICE_NOT_FOUND);
  FTStatusReport("Op", FT_INVALID_HANDLE);
  FTStatusReport("Op", FT_DEVICE_NOT_OPENED);
  FTStatusReport("Op", FT_IO_ERROR);
  FTStatusReport("Op", FT_INSUFFICIENT_RESOURCES);
  FTStatusReport("Op", FT_INVALID_PARAMETER);
  const std::vector<std::string> expected = {
      "GetFTDeviceCount - Device Not Found....",
      "Op - Invalid Handle...",
      "Op - Device Not Opened...",
      "Op - General IO Error...",
      "Op - Insufficient Resources...",
      "Op - Invalid Parameter ...",
  };
  EXPECT_EQ(capture.Messages, expected);
}

TEST(FTStatusReport, ShowsNothingForSuccessOrMissingLibrary) {
  MessageCapture capture;
  FTStatusReport("GetFTDeviceCount", FT_OK);
  FTStatusReport("GetFTDeviceCount", kFTNotAvailable);
  EXPECT_TRUE(capture.Messages.empty());
}

TEST(FTStatusReport, UnknownStatusStillNamesTheOperation) {
  MessageCapture capture;
  FTStatusReport("GetFTDeviceCount", 18);
  ASSERT_EQ(capture.Messages.size(), 1u);
  EXPECT_EQ(capture.Messages[0], "GetFTDeviceCount - Status 18...");
}

}  // namespace
