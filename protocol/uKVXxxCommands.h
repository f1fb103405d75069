#pragma once
// The module's command set as the tool speaks it: one request-and-reply transaction over a
// channel, and the sequences built from it (module check, download, upload, measured
// values). Everything runs on the calling thread and blocks it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "comm/uMethod.h"
#include "comm/uci_ICommunicationInterface.h"
#include "protocol/uKVXInstructions.h"
#include "protocol/uKVXxx.h"
#include "protocol/uTirmel97.h"

using TKVXChannel = TIntfPtr<ICommunicationInterface>;

// Reply time limits in ms.
inline constexpr std::int32_t kCheckTimeout = 250;
inline constexpr std::int32_t kDownloadTimeout = 500;
inline constexpr std::int32_t kMeasureTimeout = 500;
inline constexpr std::int32_t kUploadTimeout = 250;
// Pauses in ms: before every transaction, after the type is read, at the end of an upload.
inline constexpr int kTransactPause = 25;
inline constexpr int kSettlePause = 100;

// Every pause of the command set is taken here, by the installed pause function: a sleep,
// unless a simulator installs one that also counts what was paused.
using TKVXPauseFunction = std::function<void(int Milliseconds)>;
void KVXPause(int Milliseconds);
// Returns the previous function; an empty one restores the sleep.
TKVXPauseFunction SetKVXPauseFunction(TKVXPauseFunction Pause);
// The sleep of the product, for a pause function that takes the pause in full.
void KVXSleep(int Milliseconds);

// The longest reply of the command set: a frame around the longest parameter stream. An
// exchange collects no more, so a talker that keeps looking like a frame is cut off soon.
std::size_t LongestReplySize();

// While it lives, the calling thread's exchanges end as soon as Stop is set: a running one at
// its next poll, later ones at once, all as if the module had not answered.
class TKVXStopScope {
 public:
  explicit TKVXStopScope(const std::atomic<bool>& Stop);
  ~TKVXStopScope();
  TKVXStopScope(const TKVXStopScope&) = delete;
  TKVXStopScope& operator=(const TKVXStopScope&) = delete;

 private:
  const std::atomic<bool>* FPrevious;
};

// One exchange. False when the channel is missing or closed or no valid frame came back, or
// when a request to one module's own address is answered from another address (on a shared
// line that is another module's reply); raises only what the frame parse raises.
bool Transact(const TKVXChannel& Channel, std::uint8_t Instruction, const std::string& Data,
              std::uint8_t Address, std::int32_t Timeout, std::string& Reply);

// The transaction bound to a channel, as the download takes it.
using TKVXTransact = TMethod<bool(std::uint8_t Instruction, const std::string& Data,
                                  std::uint8_t Address, std::int32_t Timeout, std::string& Reply)>;

// True when a KVX module (or a NOVRA) answers the type query at Address. Garbled, when given,
// tells whether the reply began as a frame and then failed its length or checksum (as when
// several modules on one line answer at once).
bool CheckDevice(const TKVXChannel& Channel, std::uint8_t Address = kUniversalAddress,
                 std::int32_t Timeout = kCheckTimeout, bool* Garbled = nullptr);
// Reads everything from the module at Address into Rec; raises "Device not responding ..."
// naming the failed step. False, with Rec untouched, when Transact is empty.
bool KvxDownloadParams(TKVXrec& Rec, const TKVXTransact& Transact,
                       std::uint8_t Address = kUniversalAddress);
// Whether an upload writes the communication parameters, and whether it changes the speed
// (which only the RS model takes).
bool CommParamsChanged(const TKVXrec& Read, const TKVXrec& Edited);
bool SpeedChanged(const TKVXrec& Read, const TKVXrec& Edited);
// Sends each difference of Edited from Read, every write behind its own EnableConfig. A
// reply that cannot be parsed does not stop it: the next write follows. Address is the one
// the module was reached at: at the universal address the writes go to the address the module
// reported, as they always have.
void UploadChanges(const TKVXChannel& Channel, const TKVXrec& Read, const TKVXrec& Edited,
                   std::uint8_t Address = kUniversalAddress);
// The four measured value blocks, or empty after three failed attempts.
std::string ReadMeasurements(const TKVXChannel& Channel, std::uint8_t Address = kUniversalAddress);
// One exchange of the measured values, for a reader that counts its own failures. Garbled tells
// a reply that began as a frame and then failed from no reply at all; raises only what the
// frame parse raises.
bool ReadMeasurementsOnce(const TKVXChannel& Channel, std::uint8_t Address, std::string& Reply,
                          bool& Garbled, std::int32_t Timeout = kMeasureTimeout);
