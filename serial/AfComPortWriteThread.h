#pragma once
// The write thread of a port core: drains the output ring to the device, so that a caller's
// write returns at once, and takes part in the purge handshake.
#include <cstdint>

#include "serial/AfCircularBuffer.h"
#include "serial/AfComPortCoreThread.h"
#include "serial/AfSignals.h"

class TAfComPortWriteThread : public TAfComPortCoreThread {
 public:
  static constexpr unsigned sgStop = 1, sgPurgeRequested = 2, sgDataReady = 4, sgPurgeAck = 8;

  TAfComPortWriteThread(TAfComPortCore& Core, std::int32_t Capacity)
      : TAfComPortCoreThread(Core), FBuffer(Capacity) {
    Start();
  }
  ~TAfComPortWriteThread() override { WaitFor(); }

  // Guarded by the core's write lock.
  TAfCircularBuffer FBuffer;
  bool FPurging = false;
  // The last purge asked for and the last one the thread acknowledged: an acknowledgement that
  // comes after its purge gave up does not count for the next one.
  std::uint64_t FPurgeAsked = 0;
  std::uint64_t FPurgeAcknowledged = 0;
  TAfSignals FSignals;

  void Stop() {
    Terminate();
    Signal(sgStop);
  }
  void Signal(unsigned Bits) {
    FSignals.Set(Bits);
    if (Bits & (sgStop | sgPurgeRequested)) FHandle->WakeWrite();
  }
  // The purge handshake: the thread acknowledges (abandoning a write in progress) before the
  // buffer is cleared, and takes no new block until it is, so nothing queued before the purge
  // goes out after it and nothing queued after it is taken for the old block.
  bool Purge();

 protected:
  void Execute() override;

 private:
  void WriteBlock();
  void AcknowledgePurge();
};
