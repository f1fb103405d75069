#pragma once
// Misbehaviour a simulated module shows on demand. All off by default.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct TKvxSimFaults {
  // Faults below apply only to requests with this instruction; none: to every request.
  std::optional<std::uint8_t> OnlyInstruction;
  bool NoAnswer = false;
  std::chrono::milliseconds ExtraDelay{0};  // added to the turnaround
  int Chunks = 1;                           // the reply leaves in this many parts ...
  std::chrono::milliseconds ChunkGap{0};    // ... with this silence between them
  std::string NoiseBefore;                  // bytes sent ahead of the frame
  std::string NoiseAfter;                   // bytes sent after the frame
  bool WrongChecksum = false;
  std::size_t TruncateBy = 0;  // bytes cut off the end of the frame
  // The reply's length field says 4 and the frame ends after the signature: checksum and
  // terminator right, but no room for the acknowledge code.
  bool ShortLengthField = false;
  // Every second answer differs from the first in its last data byte (the type text's
  // version letter, for example), so two answers in a row never agree.
  bool AlternateAnswers = false;
  bool EmptyUserData = false;       // ReadUserData answers an empty text
  bool UnknownStreamCodes = false;  // setup and watch streams carry code 0x05 after each channel
  bool IgnoreWrites = false;        // writes are acknowledged but change nothing
  // Answers this many more requests, then falls silent (counted from when the faults are set).
  std::optional<int> StopAfter;
};
