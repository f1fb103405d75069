#pragma once
// Base of the serial port component: a named component that can write data and has open and
// close hooks. The hooks would notify a linked data dispatcher; this program links none.
#include <cstdint>
#include <string>

class TAfDataDispConnComponent {
 public:
  virtual ~TAfDataDispConnComponent() = default;

  virtual void WriteData(const void* Buffer, std::int32_t Count) = 0;

  // Called by the derived class at the end of opening and at the start of closing.
  virtual void Open() {}
  virtual void Close() {}

  std::string Name;
  std::int32_t Tag = 0;
};
