#include "protocol/uKVXxxCommands.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "protocol/uTirmel97.h"
#include "support/uConversionUtils.h"
#include "support/uErrors.h"
#include "support/uLogUtils.h"
#include "support/uStringUtils.h"

namespace {

constexpr int kConfirmAttempts = 5;
constexpr int kMeasureAttempts = 3;
constexpr std::size_t kLoopModesSize = 8;
constexpr std::size_t kCommParamsSize = 2;
// Room in a reply for a few items the streams do not know (a newer module's, or stray codes):
// they are reported, not fatal.
constexpr std::size_t kUnknownItemRoom = 64;

std::mutex gPauseLock;
TKVXPauseFunction gPause;
thread_local const std::atomic<bool>* gStop = nullptr;

bool Stopped() {
  return gStop && gStop->load();
}

// Empty unless a pause function is installed.
TKVXPauseFunction InstalledPause() {
  std::lock_guard lock(gPauseLock);
  return gPause;
}

// Asks until two answers in a row agree and are not empty; at most five attempts.
bool ConfirmedQuery(const TKVXTransact& transact, std::uint8_t address, std::uint8_t instruction,
                    const std::string& data, std::string& reply) {
  for (int attempt = 1; attempt <= kConfirmAttempts; ++attempt) {
    std::string first;
    std::string second;
    if (!transact(instruction, data, address, kDownloadTimeout, first)) continue;
    if (!transact(instruction, data, address, kDownloadTimeout, second)) continue;
    if (first == second && !first.empty()) {
      reply = first;
      return true;
    }
  }
  return false;
}

void FailUnless(bool ok, const char* failure) {
  if (!ok) throw Exception(failure);
}

}  // namespace

void KVXSleep(int Milliseconds) {
  // In slices, so that a program asked to end does not sit out the pause.
  constexpr auto kSlice = std::chrono::milliseconds(10);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  for (auto now = std::chrono::steady_clock::now(); now < end && !ExchangesStopped();
       now = std::chrono::steady_clock::now())
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kSlice, end - now));
}

void KVXPause(int Milliseconds) {
  if (const TKVXPauseFunction pause = InstalledPause())
    pause(Milliseconds);
  else
    KVXSleep(Milliseconds);
}

TKVXPauseFunction SetKVXPauseFunction(TKVXPauseFunction Pause) {
  std::lock_guard lock(gPauseLock);
  std::swap(gPause, Pause);
  return Pause;
}

std::size_t LongestReplySize() {
  return LongestStreamSize() + kUnknownItemRoom + kFrameOverhead;
}

TKVXStopScope::TKVXStopScope(const std::atomic<bool>& Stop) : FPrevious(gStop) {
  gStop = &Stop;
}

TKVXStopScope::~TKVXStopScope() {
  gStop = FPrevious;
}

namespace {

bool Exchange(const TKVXChannel& Channel, std::uint8_t Instruction, const std::string& Data,
              std::uint8_t Address, std::int32_t Timeout, std::string& Reply, bool* Garbled) {
  Reply.clear();
  if (Garbled) *Garbled = false;
  if (Stopped()) return false;
  KVXPause(kTransactPause);
  if (!Channel || !Channel->GetActive() || Stopped()) return false;
  const std::string request = BuildFrame(Address, kRequestSignature, Instruction, Data);
  std::string received;
  // A line that carries anything but a frame for us (a talker that never stops, noise) ends
  // the exchange as soon as that shows, instead of when the line falls quiet.
  Channel->Query(
      request, Timeout, received,
      [](const std::string& bytes) {
        return FrameCannotComplete(bytes) || Stopped()
                   ? kReplyCannotComplete
                   : static_cast<std::uint16_t>(ValidateFrame(bytes));
      },
      LongestReplySize());
  const std::int16_t invalid = ValidateFrame(received);
  if (Garbled) *Garbled = invalid != 0 && received.starts_with("*a") && received.size() >= 4;
  if (invalid != 0) return false;
  TTirmelFormat97 frame;
  ParseFrame(received, frame);
  if (Address != kUniversalAddress && frame.Address != Address) return false;
  Reply = std::move(frame.Data);
  return true;
}

}  // namespace

bool Transact(const TKVXChannel& Channel, std::uint8_t Instruction, const std::string& Data,
              std::uint8_t Address, std::int32_t Timeout, std::string& Reply) {
  return Exchange(Channel, Instruction, Data, Address, Timeout, Reply, nullptr);
}

bool CheckDevice(const TKVXChannel& Channel, std::uint8_t Address, std::int32_t Timeout,
                 bool* Garbled) {
  std::string reply;
  if (!Exchange(Channel, kiReadType, {}, Address, Timeout, reply, Garbled)) return false;
  return reply.find("KVX") != std::string::npos ||
         UpperCase(reply).find("NOVRA") != std::string::npos;
}

bool KvxDownloadParams(TKVXrec& Rec, const TKVXTransact& Transact, std::uint8_t Address) {
  if (Transact.IsEmpty()) return false;
  Rec.Setup.fill({});
  Rec.Watch.fill({});
  Rec.ModuleType = mtUnknown;
  const std::string all = Byte(0);
  std::string reply;

  FailUnless(ConfirmedQuery(Transact, Address, kiReadType, {}, reply),
             "Device not responding ($F3)");
  Rec.Ident.TypeText = Trim(reply);
  Rec.ModuleType = ModuleTypeFromText(reply);
  KVXPause(kSettlePause);

  FailUnless(ConfirmedQuery(Transact, Address, kiReadChannelSetup, all, reply) &&
                 ParseSetupStream(Rec, reply),
             "Device not responding");
  FailUnless(ConfirmedQuery(Transact, Address, kiReadChannelWatch, all, reply) &&
                 ParseWatchStream(Rec, reply),
             "Device not responding");

  FailUnless(ConfirmedQuery(Transact, Address, kiReadLoopModes, {}, reply) &&
                 reply.size() >= kLoopModesSize,
             "Device not responding ($1B)");
  for (int ch = 1; ch <= kChannelCount; ++ch)
    Rec.Setup[ch].Loop = static_cast<std::uint8_t>(reply[2 * ch - 1]);

  FailUnless(ConfirmedQuery(Transact, Address, kiReadCommParams, {}, reply) &&
                 reply.size() == kCommParamsSize,
             "Device not responding ($F0)");
  Rec.Ident.Address = static_cast<std::uint8_t>(reply[0]);
  if (static_cast<unsigned char>(reply[1]) < kSpeedCodes.size())
    Rec.Ident.SpeedCode = static_cast<std::uint8_t>(reply[1]);

  FailUnless(ConfirmedQuery(Transact, Address, kiReadUserData, {}, reply),
             "Device not responding ($F2)");
  Rec.Ident.UserData = Trim(reply);

  FailUnless(ConfirmedQuery(Transact, Address, kiReadProduction, {}, reply),
             "Device not responding ($FA)");
  const std::string_view production(reply);
  TKVXProduction& p = Rec.Ident.Production;
  p.ProductNumber = BigEndian(production.substr(0, 2));
  p.SerialNumber = BigEndian(production.substr(std::min<std::size_t>(2, production.size()), 2));
  p.Text = ProductionText(p.ProductNumber, p.SerialNumber);
  return true;
}

bool SpeedChanged(const TKVXrec& Read, const TKVXrec& Edited) {
  return Read.ModuleType == mtRS && Edited.Ident.SpeedCode != Read.Ident.SpeedCode;
}

bool CommParamsChanged(const TKVXrec& Read, const TKVXrec& Edited) {
  return SpeedChanged(Read, Edited) || Edited.Ident.Address != Read.Ident.Address;
}

void UploadChanges(const TKVXChannel& Channel, const TKVXrec& Read, const TKVXrec& Edited,
                   std::uint8_t Address) {
  const std::uint8_t address = Address == kUniversalAddress ? Read.Ident.Address : Address;
  // A garbled reply costs its own exchange only; the download that follows shows what the
  // module holds.
  const auto exchange = [&](std::uint8_t instruction, const std::string& data, std::uint8_t to,
                            std::string& reply) {
    try {
      return Transact(Channel, instruction, data, to, kUploadTimeout, reply);
    } catch (const Exception& error) {
      DebugLog(Format("Upload $%.2X: %s", instruction, error.what()));
      return false;
    }
  };
  // The module's answers are not judged.
  const auto write = [&](std::uint8_t instruction, const std::string& data) {
    std::string ignored;
    exchange(kiEnableConfig, {}, address, ignored);
    exchange(instruction, data, address, ignored);
  };
  const TKVXTirmel& readIdent = Read.Ident;
  const TKVXTirmel& editedIdent = Edited.Ident;
  if (Trim(editedIdent.UserData) != Trim(readIdent.UserData))
    write(kiWriteUserData, Byte(0) + PadRight(Trim(editedIdent.UserData), kUserDataWidth));

  for (int ch = 1; ch <= kChannelCount; ++ch) {
    const TChannelSetup& es = Edited.Setup[ch];
    const TChannelSetup& rs = Read.Setup[ch];
    std::string name;
    if (exchange(kiReadChannelName, Byte(ch), Address, name) && Trim(es.Name) != Trim(name))
      write(kiWriteChannelName, Byte(ch) + PadRight(es.Name, kNameWidth));
    const std::string channelItem = Byte(0x01) + Byte(ch);
    if (const std::string items = BuildSetupChanges(es, rs); !items.empty())
      write(kiWriteChannelSetup, channelItem + items);
    if (es.Loop != rs.Loop) write(kiWriteLoopMode, Byte(ch) + Byte(es.Loop));
    if (const std::string items = BuildWatchChanges(Edited.Watch[ch], Read.Watch[ch]);
        !items.empty())
      write(kiWriteChannelWatch, channelItem + items);
  }
  // Address and speed go last: a module that takes them at once no longer hears the old
  // address (or speed), and every write after them would be lost.
  if (CommParamsChanged(Read, Edited))
    write(kiWriteCommParams, Byte(editedIdent.Address) + Byte(editedIdent.SpeedCode));
  KVXPause(kSettlePause);
}

std::string ReadMeasurements(const TKVXChannel& Channel, std::uint8_t Address) {
  std::string reply;
  for (int attempt = 0; attempt < kMeasureAttempts; ++attempt)
    if (Transact(Channel, kiReadMeasuredValues, Byte(0), Address, kMeasureTimeout, reply))
      return reply;
  return {};
}

bool ReadMeasurementsOnce(const TKVXChannel& Channel, std::uint8_t Address, std::string& Reply,
                          bool& Garbled, std::int32_t Timeout) {
  return Exchange(Channel, kiReadMeasuredValues, Byte(0), Address, Timeout, Reply, &Garbled);
}
