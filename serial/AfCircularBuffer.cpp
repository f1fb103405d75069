#include "serial/AfCircularBuffer.h"

#include <cstring>

#include "support/uErrors.h"

TAfCircularBuffer::TAfCircularBuffer(std::int32_t Capacity) : FCapacity(Capacity) {
  if (Capacity < 1) throw Exception("Invalid buffer capacity");
  FData = std::make_unique<char[]>(static_cast<std::size_t>(Capacity));
}

void TAfCircularBuffer::Clear() {
  FReadPos = 0;
  FWritePos = 0;
  FFull = false;
}

std::int32_t TAfCircularBuffer::UsedCount() const {
  if (FFull) return FCapacity;
  if (FWritePos >= FReadPos) return FWritePos - FReadPos;
  return FWritePos + FCapacity - FReadPos;
}

std::int32_t TAfCircularBuffer::LinearReadCount() const {
  if (FFull || FWritePos < FReadPos) return FCapacity - FReadPos;
  return FWritePos - FReadPos;
}

std::int32_t TAfCircularBuffer::Advance(std::int32_t Pos, std::int32_t Count) const {
  std::int32_t next = Pos + Count;
  if (next >= FCapacity) next -= FCapacity;
  return next;
}

bool TAfCircularBuffer::Remove(std::int32_t Count) {
  if (Count < 0 || UsedCount() < Count) return false;
  FReadPos = Advance(FReadPos, Count);
  if (Count > 0) FFull = false;
  return true;
}

bool TAfCircularBuffer::Write(const void* Bytes, std::int32_t Count) {
  if (Count < 1 || Count > FreeSpace()) return false;
  const char* src = static_cast<const char*>(Bytes);
  std::int32_t tail = FCapacity - FWritePos;
  if (FWritePos < FReadPos || tail >= Count) {
    std::memcpy(FData.get() + FWritePos, src, static_cast<std::size_t>(Count));
  } else {
    std::memcpy(FData.get() + FWritePos, src, static_cast<std::size_t>(tail));
    std::memcpy(FData.get(), src + tail, static_cast<std::size_t>(Count - tail));
  }
  FWritePos = Advance(FWritePos, Count);
  FFull = FReadPos == FWritePos;
  return true;
}
