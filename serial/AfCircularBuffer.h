#pragma once
// Fixed-capacity byte ring. The write thread of a port queues outgoing bytes here; the reader
// consumes in place (ReadPointer + LinearReadCount, then Remove), so nothing is copied twice.
// No lock of its own: the owner serialises access.
#include <cstdint>
#include <memory>

class TAfCircularBuffer {
 public:
  explicit TAfCircularBuffer(std::int32_t Capacity);

  void Clear();
  std::int32_t Capacity() const { return FCapacity; }
  std::int32_t UsedCount() const;
  std::int32_t FreeSpace() const { return FCapacity - UsedCount(); }
  // Bytes readable in one piece from the read position.
  std::int32_t LinearReadCount() const;
  const char* ReadPointer() const { return FData.get() + FReadPos; }
  // All or nothing: false (and no change) when fewer than Count bytes are stored.
  bool Remove(std::int32_t Count);
  // All or nothing: false (and no change) when Count < 1 or Count > FreeSpace.
  bool Write(const void* Bytes, std::int32_t Count);

 private:
  std::int32_t Advance(std::int32_t Pos, std::int32_t Count) const;

  std::unique_ptr<char[]> FData;
  std::int32_t FCapacity;
  std::int32_t FReadPos = 0;
  std::int32_t FWritePos = 0;
  bool FFull = false;
};
