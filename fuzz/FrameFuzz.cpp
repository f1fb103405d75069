// Any byte string through the frame check and the frame parse. A frame the check accepts
// parses, and building a frame from the parsed fields gives back the same bytes; anything
// the parse refuses it refuses with its own error.
#include "fuzz/FuzzCheck.h"
#include "protocol/uTirmel97.h"
#include "support/uErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string bytes = FuzzBytes(Data, Size);
  const std::int16_t verdict = ValidateFrame(bytes);
  FuzzCheck(verdict >= 0 && verdict <= 6, "frame check verdict out of range");
  TTirmelFormat97 frame;
  try {
    ParseFrame(bytes, frame);
  } catch (const Exception&) {
    FuzzCheck(verdict != 0, "a frame that passed the check was refused by the parse");
    return 0;
  }
  FuzzCheck(frame.Length >= 5 && frame.Data.size() == frame.Length - 5u, "data length");
  if (verdict == 0)
    FuzzCheck(BuildFrame(frame.Address, frame.Signature, frame.Instruction, frame.Data) == bytes,
              "a valid frame does not rebuild to the same bytes");
  return 0;
}
