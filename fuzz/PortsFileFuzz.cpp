// Any text as the ports file and as KVX_COMPORTS. The reader is held against entries cut out
// here, independently: each entry is either taken, silently, or refused with a message naming
// it (a NUL shown as \0), never both: a malformed URL claims its number, so that its port
// keeps failing with the message rather than falling back to a device node, and what it
// holds must then still not parse. What is taken is what the entry says; a path with a NUL
// (the system would open a shorter name) is not taken; a server URL taken parses again, and
// written again as host and port, parses to the same server. The whole text gives the
// entries' ports, the later one winning, and their messages in order. Nothing here resolves
// a name or connects: only the parse is fuzzed.
#include <map>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "serial/AfPortMap.h"
#include "serial/uSerialServerUrl.h"
#include "support/uErrors.h"

namespace {

using TMap = std::map<std::int32_t, std::string>;

std::string_view Trimmed(std::string_view Text) {
  while (!Text.empty() && static_cast<unsigned char>(Text.front()) <= 0x20) Text.remove_prefix(1);
  while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= 0x20) Text.remove_suffix(1);
  return Text;
}

std::vector<std::string_view> Split(std::string_view Text, char Separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t end = Text.find(Separator);
    parts.push_back(Text.substr(0, end));
    if (end == std::string_view::npos) return parts;
    Text.remove_prefix(end + 1);
  }
}

// The port an entry names, or 0.
std::int32_t EntryNumber(std::string_view Entry) {
  const std::size_t eq = Entry.find('=');
  if (eq == std::string_view::npos || Trimmed(Entry.substr(eq + 1)).empty()) return 0;
  const std::string_view digits = Trimmed(Entry.substr(0, eq));
  if (digits.empty() || digits.size() > 5) return 0;
  std::int32_t number = 0;
  for (char digit : digits) {
    if (digit < '0' || digit > '9') return 0;
    number = number * 10 + (digit - '0');
  }
  return number >= 1 && number <= kHighestProbedComPort ? number : 0;
}

bool Parses(const std::string& Url) {
  try {
    ParseSerialServerUrl(Url);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// What a listing does with a taken URL: parsed, and shown again as host and port.
void CheckListed(const std::string& Path) {
  if (!IsSerialServerUrl(Path)) return;
  const TSerialServerUrl url = ParseSerialServerUrl(Path);
  const std::string again =
      std::string(url.Protocol == TServerProtocol::RawTcp ? "tcp" : "rfc2217") + "://" +
      ServerAddressText(url);
  TSerialServerUrl reparsed;
  try {
    reparsed = ParseSerialServerUrl(again);
  } catch (const Exception&) {
    FuzzCheck(false, "a taken URL written again does not parse");
  }
  FuzzCheck(
      reparsed.Protocol == url.Protocol && reparsed.Host == url.Host && reparsed.Port == url.Port,
      "a taken URL written again parses to another server");
}

// One entry alone: the error it gives (checked), its port added to Expected.
std::string CheckEntry(std::string_view Entry, TMap& Expected) {
  TMap map;
  const std::string error = AfParseComPortMap(Entry, map);
  const std::int32_t number = EntryNumber(Entry);
  const std::string path(Trimmed(Entry.substr(Entry.find('=') + 1)));
  if (number == 0 || path.find('\0') != std::string::npos) {
    FuzzCheck(!error.empty(), "an entry without a port and a usable path is taken silently");
    FuzzCheck(map.empty(), "an entry without a port and a usable path is taken");
  } else {
    FuzzCheck(map.size() == 1 && map.begin()->first == number && map.begin()->second == path,
              "an entry's port is taken as another port or path");
    Expected[number] = path;
  }
  if (!error.empty()) {
    std::string named;
    for (char c : Entry) named += c == '\0' ? std::string("\\0") : std::string(1, c);
    FuzzCheck(error.find('"' + named + '"') != std::string::npos,
              "a refusal does not name its entry");
    FuzzCheck(map.empty() || !Parses(path), "an entry is refused and taken both");
    return error;
  }
  CheckListed(path);
  return error;
}

void CheckEntries(std::string_view Text, const std::string& Where, TMap& Expected,
                  std::string& Errors) {
  for (std::string_view part : Split(Text, ';')) {
    const std::string_view entry = Trimmed(part);
    if (entry.empty()) continue;
    if (const std::string error = CheckEntry(entry, Expected); !error.empty())
      Errors += (Errors.empty() ? "" : "\n") + Where + error;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string text = FuzzBytes(Data, Size);

  TMap fromEnvironment, expected;
  std::string errors;
  CheckEntries(text, {}, expected, errors);
  FuzzCheck(AfParseComPortMap(text, fromEnvironment) == errors,
            "KVX_COMPORTS gives other messages than its entries");
  FuzzCheck(fromEnvironment == expected, "KVX_COMPORTS gives other ports than its entries");

  TMap fromFile;
  expected.clear();
  errors.clear();
  int number = 0;
  for (std::string_view line : Split(text, '\n')) {
    ++number;
    if (!Trimmed(line).starts_with('#'))
      CheckEntries(line, "line " + std::to_string(number) + ": ", expected, errors);
  }
  FuzzCheck(AfParsePortsFile(text, fromFile) == errors,
            "the ports file gives other messages than its entries");
  FuzzCheck(fromFile == expected, "the ports file gives other ports than its entries");
  return 0;
}
