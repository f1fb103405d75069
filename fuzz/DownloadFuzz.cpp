// A whole download against a module whose replies come from the fuzzer. Each request the
// host writes takes its answer from the input:
//   header byte H; H & 0x80: the previous answer again (modules are asked twice per step);
//   otherwise a length byte N and N bytes, sent as a frame (H & 3 == 0), as raw bytes (1),
//   as a frame with a wrong checksum (2) or as the first half of a frame (3).
// The answers arrive at once, so the transactor waits 20 ms for a complete frame instead of
// the module's 500 ms, and takes none of the 25 ms pauses between transactions; the one
// settle pause after the type query remains. The download must end, either with a record
// whose fields are within their ranges or with an error.
#include <memory>
#include <mutex>

#include "fuzz/FuzzCheck.h"
#include "protocol/uKVXxxCommands.h"
#include "protocol/uTirmel97.h"
#include "sim/uInProcessChannel.h"
#include "support/uErrors.h"
#include "support/uMessages.h"

namespace {

class TFuzzPeer : public ISimPeer {
 public:
  explicit TFuzzPeer(std::string Input) : FInput(std::move(Input)) {}
  bool Exhausted() const {
    std::lock_guard lock(FLock);
    return FPos >= FInput.size();
  }
  void Write(std::string_view, std::uint32_t, Clock::time_point) override {
    std::lock_guard lock(FLock);
    if (FPos >= FInput.size()) return;
    const auto header = static_cast<unsigned char>(FInput[FPos++]);
    if ((header & 0x80) == 0) FLast = NextAnswer(header & 3);
    FPending += FLast;
  }
  std::string Read(Clock::time_point) override {
    std::lock_guard lock(FLock);
    return std::exchange(FPending, {});
  }
  std::size_t Available(Clock::time_point) const override {
    std::lock_guard lock(FLock);
    return FPending.size();
  }
  std::optional<Clock::time_point> NextDue() const override {
    std::lock_guard lock(FLock);
    if (FPending.empty()) return std::nullopt;
    return Clock::now();
  }

 private:
  std::string NextAnswer(int kind) {
    std::size_t size = 0;
    if (FPos < FInput.size()) size = static_cast<unsigned char>(FInput[FPos++]);
    const std::string payload = FInput.substr(FPos, size);
    FPos += payload.size();
    if (kind == 1) return payload;
    std::string frame = BuildFrame(kUniversalAddress, kRequestSignature, 0x06, payload);
    if (kind == 2) frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] ^ 0x5A);
    if (kind == 3) frame.resize(frame.size() / 2);
    return frame;
  }

  mutable std::mutex FLock;
  const std::string FInput;
  std::size_t FPos = 0;
  std::string FLast;
  std::string FPending;
};

class TFuzzTransactor {
 public:
  TFuzzTransactor(TKVXChannel Channel, std::shared_ptr<TFuzzPeer> Peer)
      : FChannel(std::move(Channel)), FPeer(std::move(Peer)) {}
  bool Transact(std::uint8_t Instruction, const std::string& Data, std::uint8_t Address,
                std::int32_t, std::string& Reply) {
    Reply.clear();
    if (FPeer->Exhausted()) return false;
    std::string received;
    FChannel->Query(BuildFrame(Address, kRequestSignature, Instruction, Data), 20, received,
                    [](const std::string& bytes) { return std::uint16_t(ValidateFrame(bytes)); });
    if (ValidateFrame(received) != 0) return false;
    TTirmelFormat97 frame;
    ParseFrame(received, frame);
    Reply = std::move(frame.Data);
    return true;
  }

 private:
  TKVXChannel FChannel;
  std::shared_ptr<TFuzzPeer> FPeer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const bool quiet = (SetMessageHandler([](const std::string&) {}), true);
  (void)quiet;
  auto peer = std::make_shared<TFuzzPeer>(FuzzBytes(Data, Size));
  TKVXChannel channel = Create<TInProcessChannel>("FUZZ", peer, "baudrate=0");
  FuzzCheck(channel->Open(), "the in-process channel does not open");
  TFuzzTransactor transactor(channel, peer);
  TKVXrec rec;
  bool done = false;
  try {
    done = KvxDownloadParams(rec, Bind<&TFuzzTransactor::Transact>(&transactor));
  } catch (const Exception&) {
  }
  channel->Close(true);
  if (!done) return 0;
  FuzzCheck(rec.ModuleType <= mtNOVRA, "module type out of range");
  FuzzCheck(rec.Ident.SpeedCode < kSpeedCodes.size(), "speed code out of range");
  FuzzCheck(rec.Ident.Production.Text == ProductionText(rec.Ident.Production.ProductNumber,
                                                        rec.Ident.Production.SerialNumber),
            "production text");
  for (int ch = 1; ch <= kChannelCount; ++ch)
    FuzzCheck(
        rec.Setup[ch].Name.size() <= kNameWidth && rec.Watch[ch].Text14.size() <= kParamTextWidth,
        "text longer than its width");
  return 0;
}
