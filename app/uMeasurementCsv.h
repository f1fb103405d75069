#pragma once
// The one CSV layout of measured values, written by the trend window's recording and by
// kvxctl watch --csv: a header of "time" and each channel's name and unit, then one line per
// reading with the time in ISO 8601 (local time, milliseconds, offset), each value with its
// channel's decimals and a decimal point, "OVR" for an overflow and an empty cell for a
// channel without a value.
#include <cstdint>
#include <string>

#include "app/uTrend.h"
#include "support/uErrors.h"

// Lines end with "\n".
std::string CsvHeader(const TTrendChannels& Channels);
std::string CsvLine(const TTrendReading& Reading, const TTrendChannels& Channels);
std::string IsoLocalTime(std::int64_t TimeMs);

// The recording's file cannot be written: what() names the file and gives the system's text.
class ECannotWrite : public Exception {
 public:
  ECannotWrite(const std::string& FileName, int Error);
  int Error() const { return FError; }

 private:
  int FError;
};

// A recording into a file: the header at once, then one line per reading, each handed to
// the system in one write as it comes, so a program killed mid-way leaves every complete
// line in the file. Raises ECannotWrite when it cannot be written.
class TCsvRecording {
 public:
  TCsvRecording(const std::string& FileName, const TTrendChannels& Channels);
  ~TCsvRecording();
  TCsvRecording(const TCsvRecording&) = delete;
  TCsvRecording& operator=(const TCsvRecording&) = delete;

  void Write(const TTrendReading& Reading);
  const std::string& FileName() const { return FFileName; }

 private:
  void WriteLine(const std::string& Line);

  std::string FFileName;
  TTrendChannels FChannels;
  int FFd = -1;
};
