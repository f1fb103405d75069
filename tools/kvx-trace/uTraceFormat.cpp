#include "tools/kvx-trace/uTraceFormat.h"

#include <ctime>

#include "support/uStringUtils.h"

std::string FormatTraceLine(std::chrono::system_clock::time_point time, std::string_view message) {
  if (message.empty()) return {};
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(time);
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  std::string line = Format("%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                            static_cast<int>(millis < 0 ? millis + 1000 : millis));

  const auto direction = static_cast<unsigned char>(message.front());
  line += direction == 1 ? "->" : direction == 2 ? "<-" : Format("?%u", direction);
  const std::string_view data = message.substr(1);
  std::string text;
  for (const char character : data) {
    const auto byte = static_cast<unsigned char>(character);
    line += Format(" %02X", byte);
    text += byte >= 0x20 && byte < 0x7F ? character : '.';
  }
  return line + "  |" + text + "|";
}
