#include "app/uMeasurementCsv.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "support/uErrors.h"
#include "support/uFileUtils.h"
#include "support/uStringUtils.h"

namespace {

constexpr int kMaxDecimals = 9;

std::string CsvField(const std::string& Text) {
  const bool plain = Text.find_first_of(",\"\r\n") == std::string::npos &&
                     (Text.empty() || (Text.front() != ' ' && Text.back() != ' '));
  if (plain) return Text;
  std::string quoted = "\"";
  for (char letter : Text) quoted += letter == '"' ? std::string("\"\"") : std::string(1, letter);
  return quoted + "\"";
}

std::string ChannelTitle(const TTrendChannel& Channel, int Number) {
  const std::string name = Channel.Name.empty() ? Format("ch%d", Number) : Channel.Name;
  return Channel.Unit.empty() ? name : name + " [" + Channel.Unit + "]";
}

std::string ValueText(const TTrendValue& Value, int Decimals) {
  switch (Value.State) {
    case TReadingState::Missing:
      return {};
    case TReadingState::Overflow:
      return "OVR";
    case TReadingState::Valid:
      break;
  }
  std::array<char, 64> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), static_cast<double>(Value.Value),
                    std::chars_format::fixed, std::clamp(Decimals, 0, kMaxDecimals));
  return std::string(text.data(), result.ptr);
}

}  // namespace

std::string IsoLocalTime(std::int64_t TimeMs) {
  const std::time_t seconds = static_cast<std::time_t>(TimeMs / 1000);
  const int millis = static_cast<int>(TimeMs % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  const long offset = local.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis,
                offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

std::string CsvHeader(const TTrendChannels& Channels) {
  std::string line = "time";
  for (int index = 0; index < kTrendChannels; ++index)
    line += "," + CsvField(ChannelTitle(Channels[index], index + 1));
  return line + "\n";
}

std::string CsvLine(const TTrendReading& Reading, const TTrendChannels& Channels) {
  std::string line = IsoLocalTime(Reading.TimeMs);
  for (int index = 0; index < kTrendChannels; ++index)
    line += "," + ValueText(Reading.Values[index], Channels[index].Decimals);
  return line + "\n";
}

ECannotWrite::ECannotWrite(const std::string& FileName, int Error)
    : Exception("cannot write " + FileName + ": " + std::strerror(Error)), FError(Error) {}

TCsvRecording::TCsvRecording(const std::string& FileName, const TTrendChannels& Channels)
    : FFileName(FileName), FChannels(Channels) {
  FFd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (FFd < 0) throw ECannotWrite(FileName, errno);
  try {
    WriteLine(CsvHeader(FChannels));
  } catch (...) {
    ::close(FFd);
    throw;
  }
}

TCsvRecording::~TCsvRecording() {
  ::close(FFd);
}

void TCsvRecording::Write(const TTrendReading& Reading) {
  WriteLine(CsvLine(Reading, FChannels));
}

void TCsvRecording::WriteLine(const std::string& Line) {
  if (const int error = WriteAll(FFd, Line)) throw ECannotWrite(FFileName, error);
}
