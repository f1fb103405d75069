#include "sim/uKvxSimModule.h"

#include <algorithm>

#include "protocol/uTirmel97.h"

namespace {

constexpr std::uint32_t kFallbackBaud = 9600;  // a state with a speed code off the table

std::uint32_t BaudOf(std::uint8_t speedCode) {
  return speedCode < kSpeedCodes.size() ? kSpeedCodes[speedCode] : 0;
}

std::string ShortLengthFrame(std::uint8_t address, std::uint8_t signature) {
  std::string frame = {'*', 'a', 0, 4, static_cast<char>(address), static_cast<char>(signature)};
  frame += static_cast<char>(FrameChecksum(frame));
  return frame + '\r';
}

}  // namespace

TKvxSimModule::TKvxSimModule(TKvxSimState State)
    : FDevice(std::move(State)), FStart(Clock::now()), FLineFreeAt(FStart) {}

void TKvxSimModule::Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) {
  std::lock_guard lock(FLock);
  const std::uint32_t own = BaudOf(FDevice.State().SpeedCode);
  if (baud != 0 && baud != own) {
    // At another speed the module's receiver sees only garbage, and any frame it was
    // collecting is spoilt too.
    FInput.clear();
    return;
  }
  const std::uint32_t line = baud != 0 ? baud : (own != 0 ? own : kFallbackBaud);
  const auto byteTime =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / line));
  FLineFreeAt = std::max(now, FLineFreeAt) + byteTime * static_cast<long>(bytes.size());
  FInput += bytes;
  TakeFrames(byteTime);
}

void TKvxSimModule::TakeFrames(Clock::duration byteTime) {
  constexpr std::size_t kLengthEnd = 4;  // "*a" and the 16-bit length
  for (;;) {
    const std::size_t start = FInput.find('*');
    FInput.erase(0, start == std::string::npos ? FInput.size() : start);
    if (FInput.size() < kLengthEnd) return;
    const std::size_t length =
        (static_cast<unsigned char>(FInput[2]) << 8) | static_cast<unsigned char>(FInput[3]);
    if (FInput[1] != 'a' || length < 5) {
      FInput.erase(0, 1);
      continue;
    }
    if (FInput.size() < length + kLengthEnd) return;
    std::string frame = FInput.substr(0, length + kLengthEnd);
    if (ValidateFrame(frame) != 0) {
      FInput.erase(0, 1);  // look for a frame inside the corrupt one
      continue;
    }
    FInput.erase(0, frame.size());
    // Bytes still waiting came after the frame's end.
    const Clock::time_point arrived = FLineFreeAt - byteTime * static_cast<long>(FInput.size());
    Respond(frame, arrived, byteTime);
  }
}

void TKvxSimModule::Respond(const std::string& frame, Clock::time_point arrived,
                            Clock::duration byteTime) {
  TTirmelFormat97 request;
  ParseFrame(frame, request);
  FRequests.push_back({request.Address, request.Instruction, request.Data});
  if (!FDevice.Hears(request.Address)) return;
  const std::uint8_t address = FDevice.State().Address;

  const bool applies = !FFaults.OnlyInstruction || *FFaults.OnlyInstruction == request.Instruction;
  const TKvxSimFaults faults = applies ? FFaults : TKvxSimFaults{};
  // A silent module does not hear the request either: nothing changes.
  if (faults.NoAnswer || (faults.StopAfter && FAnswered >= *faults.StopAfter)) return;
  if (applies) ++FAnswered;

  const double seconds = std::chrono::duration<double>(arrived - FStart).count();
  const TKvxSimAnswer answer = FDevice.Answer(request.Instruction, request.Data, seconds, faults);
  std::string reply = faults.ShortLengthField
                          ? ShortLengthFrame(address, request.Signature)
                          : BuildFrame(address, request.Signature, answer.Code, answer.Data);
  if (faults.WrongChecksum) reply[reply.size() - 2] ^= 0x5A;
  reply.resize(reply.size() - std::min(faults.TruncateBy, reply.size()));
  Schedule(faults.NoiseBefore + reply + faults.NoiseAfter,
           arrived + FTurnaround + faults.ExtraDelay, byteTime, faults);
}

void TKvxSimModule::Schedule(const std::string& bytes, Clock::time_point start,
                             Clock::duration byteTime, const TKvxSimFaults& faults) {
  // A reply never overtakes one still being sent.
  Clock::time_point due = FOutput.empty() ? start : std::max(start, FOutput.back().Due);
  const std::size_t chunks = static_cast<std::size_t>(std::max(1, faults.Chunks));
  std::size_t chunk = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i * chunks / bytes.size() != chunk) {
      chunk = i * chunks / bytes.size();
      due += faults.ChunkGap;
    }
    due += byteTime;
    FOutput.push_back({due, bytes[i]});
  }
}

std::string TKvxSimModule::Read(Clock::time_point now) {
  std::lock_guard lock(FLock);
  std::string bytes;
  while (!FOutput.empty() && FOutput.front().Due <= now) {
    bytes += FOutput.front().Byte;
    FOutput.pop_front();
  }
  return bytes;
}

std::size_t TKvxSimModule::Available(Clock::time_point now) const {
  std::lock_guard lock(FLock);
  const auto end = std::find_if(FOutput.begin(), FOutput.end(),
                                [now](const TPendingByte& b) { return b.Due > now; });
  return static_cast<std::size_t>(end - FOutput.begin());
}

std::optional<ISimPeer::Clock::time_point> TKvxSimModule::NextDue() const {
  std::lock_guard lock(FLock);
  if (FOutput.empty()) return std::nullopt;
  return FOutput.front().Due;
}

TKvxSimState TKvxSimModule::State() const {
  return Locked([&] { return FDevice.State(); });
}

void TKvxSimModule::SetState(TKvxSimState State) {
  Locked([&] { FDevice.SetState(std::move(State)); });
}

TKvxSimFaults TKvxSimModule::Faults() const {
  return Locked([&] { return FFaults; });
}

void TKvxSimModule::SetFaults(TKvxSimFaults Faults) {
  Locked([&] {
    FFaults = std::move(Faults);
    FAnswered = 0;
  });
}

void TKvxSimModule::SetTurnaround(std::chrono::microseconds Turnaround) {
  Locked([&] { FTurnaround = Turnaround; });
}

std::vector<TKvxSimRequest> TKvxSimModule::Requests() const {
  return Locked([&] { return FRequests; });
}

void TKvxSimModule::ClearRequests() {
  Locked([&] { FRequests.clear(); });
}
