#include "tests/faults/FaultRig.h"

#include <filesystem>

#include "comm/uci_ISerialPortInterface.h"
#include "support/uStringUtils.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uci_FTDIdirect.h"

namespace {
constexpr int kComNumber = 201;
constexpr const char* kAdapter = "KVXFAULT";
}  // namespace

std::string LineName(TLine Line) {
  return Line == TLine::Pty ? "Pty" : "Usb";
}

TFaultRig::TFaultRig(TLine Line, const TKvxSimState& State)
    : Module(std::make_shared<TKvxSimModule>(State)), FLine(Line) {
  const std::uint32_t baud = kSpeedCodes[State.SpeedCode];
  if (Line == TLine::Pty) {
    ServePty();
    Channel = Create<TSerialPortInterface>(Format("comport=%d;baudrate=%u", kComNumber, baud));
  } else {
    FakeFtdi_Reset();
    FakeFtdi_AddAdapter(kAdapter, "KVX DAZAZE", Module.get());
    Channel = Create<TFTDIDevice>(
        Format("provider=FTD_USB;serial_number=%s;baudrate=%u", kAdapter, baud));
  }
  Channel->Open();
}

TFaultRig::~TFaultRig() {
  JoinPuller();
  if (Channel) Channel->Close(true);
  Channel = nullptr;
  FPty.reset();
  if (FLine == TLine::Pty)
    unsetenv("KVX_COMPORTS");
  else
    FakeFtdi_Reset();
}

void TFaultRig::Pull() {
  if (FLine == TLine::Pty)
    FPty.reset();
  else
    FakeFtdi_Unplug(kAdapter);
}

void TFaultRig::ServePty() {
  FPty = std::make_unique<TSimPty>(Module);
  setenv("KVX_COMPORTS", Format("%d=%s", kComNumber, FPty->SlavePath().c_str()).c_str(), 1);
}

void TFaultRig::Replug() {
  JoinPuller();
  Channel->Close(true);
  if (FLine == TLine::Pty)
    ServePty();
  else
    FakeFtdi_Plug(kAdapter);
  Channel->Open();
}

void TFaultRig::PullAfter(std::size_t Requests) {
  const std::size_t target = Module->Requests().size() + Requests;
  FPuller = std::thread([this, target] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Module->Requests().size() < target && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Pull();
  });
}

void TFaultRig::JoinPuller() {
  if (FPuller.joinable()) FPuller.join();
}

std::size_t ThreadCount() {
  // Sanitizer runtimes start a helper thread with the first thread of the process; make sure
  // it is there before anything is counted, so that it is in every count.
  static const bool helpersStarted = (std::thread([] {}).join(), true);
  (void)helpersStarted;
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

std::size_t ThreadCountSettlesAt(std::size_t Expected) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::size_t count = ThreadCount();
  while (count > Expected && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    count = ThreadCount();
  }
  return count;
}
