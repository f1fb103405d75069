#include "tools/kvx-sim/uKvxSimOptions.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "protocol/uTirmel97.h"
#include "support/uErrors.h"
#include "support/uNumberText.h"
#include "support/uStringUtils.h"

const char* const KvxSimUsage =
    "Usage: kvx-sim [--bench] [module options] [--module [module options]]...\n"
    "Serves simulated KVX modules on pseudo-terminals until interrupted, and prints the\n"
    "KVX_COMPORTS entry that reaches each of them.\n"
    "\n"
    "  --bench               a bench port: every module on the port of the first one, one\n"
    "                        at a time; it starts empty, and each SIGUSR1 takes the module\n"
    "                        off or plugs in the next, and after the last puts all of them\n"
    "                        on one line\n"
    "\n"
    "Module options (they apply to the module begun last):\n"
    "  -n, --module          begin another module\n"
    "  -p, --port N          COM number of its KVX_COMPORTS entry (default 100, 101, ...)\n"
    "  -m, --model NAME      usb, eth, rs or novra (default usb)\n"
    "  -s, --serial N        serial number, 0 to 65535 (default 1, 2, ...)\n"
    "  -b, --speed BAUD      the only speed it answers at: 110, 300, 600, 1200, 2400, 4800,\n"
    "                        9600, 19200, 38400, 57600, 115200 or 230400 (default: the model's)\n"
    "  -a, --address N       module address, 1 to 253 (default 1)\n"
    "  -l, --line            put it on the line of the module begun before it: one port,\n"
    "                        each module answering its own address, all of them at once\n"
    "                        (mixed, as on a real line) to the universal address 254\n"
    "  -u, --usb SERIAL      put it behind a fake USB adapter with this serial number\n"
    "                        (1 to 15 letters, digits, '-' or '_') instead of a COM port;\n"
    "                        prints the environment that makes the tool load the fake\n"
    "                        adapter library\n"
    "  -f, --fault FAULT     no-answer, wrong-checksum, alternate, noise, split,\n"
    "                        unknown-codes, ignore-writes, slow=MS, truncate=N or\n"
    "                        stop-after=N (may be repeated)\n"
    "  -h, --help            this text\n";

namespace {

long ParseNumber(const std::string& Option, const std::string& Text, long Min, long Max) {
  // Nine digits at most: what no option's range exceeds is refused as no number at all.
  const std::optional<std::uint64_t> digits =
      Text.size() <= 9 ? ParseDigits(Text) : std::optional<std::uint64_t>();
  if (!digits) throw Exception(Option + ": '" + Text + "' is not a number");
  const long value = static_cast<long>(*digits);
  if (value < Min || value > Max)
    throw Exception(Format("%s: %ld is not in %ld to %ld", Option.c_str(), value, Min, Max));
  return value;
}

std::string ParseUsbSerial(const std::string& Option, const std::string& Text) {
  const bool valid =
      !Text.empty() && Text.size() <= 15 && std::all_of(Text.begin(), Text.end(), [](char Letter) {
        return std::isalnum(static_cast<unsigned char>(Letter)) || Letter == '-' || Letter == '_';
      });
  if (!valid)
    throw Exception(Option + ": '" + Text + "' is not 1 to 15 letters, digits, '-' or '_'");
  return Text;
}

TKVXModuleType ParseModel(const std::string& Text) {
  const std::string name = UpperCase(Text);
  if (name == "USB") return mtUSB;
  if (name == "ETH") return mtETH;
  if (name == "RS") return mtRS;
  if (name == "NOVRA") return mtNOVRA;
  throw Exception("--model: '" + Text + "' is not usb, eth, rs or novra");
}

void ApplyFault(TKvxSimFaults& Faults, const std::string& Text) {
  const std::size_t equals = Text.find('=');
  const std::string name = Text.substr(0, equals);
  const std::string value = equals == std::string::npos ? std::string() : Text.substr(equals + 1);
  const bool needsValue = name == "slow" || name == "truncate" || name == "stop-after";
  if (needsValue == value.empty() && (needsValue || equals != std::string::npos))
    throw Exception("--fault: '" + Text + "' " + (needsValue ? "needs =N" : "takes no value"));
  if (name == "no-answer")
    Faults.NoAnswer = true;
  else if (name == "wrong-checksum")
    Faults.WrongChecksum = true;
  else if (name == "alternate")
    Faults.AlternateAnswers = true;
  else if (name == "unknown-codes")
    Faults.UnknownStreamCodes = true;
  else if (name == "ignore-writes")
    Faults.IgnoreWrites = true;
  else if (name == "noise")
    Faults.NoiseBefore = std::string("\x00\x55\xAA", 3);
  else if (name == "split") {
    Faults.Chunks = 2;
    Faults.ChunkGap = std::chrono::milliseconds(30);
  } else if (name == "slow")
    Faults.ExtraDelay = std::chrono::milliseconds(ParseNumber("--fault slow", value, 0, 600000));
  else if (name == "truncate")
    Faults.TruncateBy = static_cast<std::size_t>(ParseNumber("--fault truncate", value, 1, 1000));
  else if (name == "stop-after")
    Faults.StopAfter = static_cast<int>(ParseNumber("--fault stop-after", value, 0, 1000000));
  else
    throw Exception("--fault: unknown fault '" + Text + "'");
}

// One module as the command line describes it, before the defaults are filled in.
struct TModuleDraft {
  std::int32_t Port = 0;
  TKVXModuleType Model = mtUSB;
  std::int32_t Serial = -1;
  std::int32_t Speed = -1;
  std::int32_t Address = 1;
  std::string Usb;
  TKvxSimFaults Faults;
  bool Line = false;
};

}  // namespace

TKvxSimOptions ParseKvxSimOptions(const std::vector<std::string>& Args) {
  TKvxSimOptions options;
  std::vector<TModuleDraft> drafts(1);
  for (std::size_t index = 0; index < Args.size(); ++index) {
    const std::string& arg = Args[index];
    auto value = [&]() -> const std::string& {
      if (index + 1 >= Args.size()) throw Exception(arg + " needs a value");
      return Args[++index];
    };
    TModuleDraft& draft = drafts.back();
    if (arg == "-h" || arg == "--help")
      options.Help = true;
    else if (arg == "--bench")
      options.Bench = true;
    else if (arg == "-n" || arg == "--module")
      drafts.emplace_back();
    else if (arg == "-p" || arg == "--port")
      draft.Port = static_cast<std::int32_t>(ParseNumber(arg, value(), 1, 65535));
    else if (arg == "-m" || arg == "--model")
      draft.Model = ParseModel(value());
    else if (arg == "-s" || arg == "--serial")
      draft.Serial = static_cast<std::int32_t>(ParseNumber(arg, value(), 0, 65535));
    else if (arg == "-b" || arg == "--speed") {
      const long baud = ParseNumber(arg, value(), 1, 1000000);
      const auto code =
          std::find(kSpeedCodes.begin(), kSpeedCodes.end(), static_cast<std::uint32_t>(baud));
      if (code == kSpeedCodes.end())
        throw Exception(Format("%s: %ld is not a module speed", arg.c_str(), baud));
      draft.Speed = static_cast<std::int32_t>(code - kSpeedCodes.begin());
    } else if (arg == "-a" || arg == "--address")
      draft.Address =
          static_cast<std::int32_t>(ParseNumber(arg, value(), 1, kHighestModuleAddress));
    else if (arg == "-l" || arg == "--line")
      draft.Line = true;
    else if (arg == "-u" || arg == "--usb")
      draft.Usb = ParseUsbSerial(arg, value());
    else if (arg == "-f" || arg == "--fault")
      ApplyFault(draft.Faults, value());
    else
      throw Exception("unknown argument '" + arg + "' (see --help)");
  }
  std::set<std::int32_t> portsTaken;
  std::set<std::string> usbTaken;
  std::set<std::int32_t> lineAddresses;
  for (const TModuleDraft& draft : drafts) {
    if (options.Bench && (draft.Line || !draft.Usb.empty() ||
                          (draft.Port && &draft != &drafts.front())))
      throw Exception("--bench puts every module on the port of the first: no --line, --usb or "
                      "--port after the first");
    if (&draft == &drafts.front() && draft.Line)
      throw Exception("--line needs a module before it to share the line with");
    if (draft.Line && (draft.Port || !draft.Usb.empty()))
      throw Exception("--line takes the port of the module before it: no --port or --usb");
    if (!draft.Line) lineAddresses.clear();
    // New modules on a bench all come at their maker's address.
    if (!options.Bench && !lineAddresses.insert(draft.Address).second)
      throw Exception(Format("--address %d is given twice on one line", draft.Address));
    if (draft.Port && !portsTaken.insert(draft.Port).second)
      throw Exception(Format("--port %d is given twice", draft.Port));
    if (draft.Port && !draft.Usb.empty())
      throw Exception("--port and --usb cannot both be given for one module");
    if (!draft.Usb.empty() && !usbTaken.insert(draft.Usb).second)
      throw Exception("--usb " + draft.Usb + " is given twice");
  }
  std::int32_t nextPort = 100;
  std::uint16_t nextSerial = 1;
  for (TModuleDraft& draft : drafts) {
    TKvxSimPortSpec served;
    served.JoinsLine = draft.Line || (options.Bench && !options.Ports.empty());
    if (served.JoinsLine) {
      draft.Port = options.Ports.back().ComNumber;
      draft.Usb = options.Ports.back().UsbSerial;
    } else if (!draft.Port && draft.Usb.empty()) {
      while (portsTaken.count(nextPort)) ++nextPort;
      draft.Port = nextPort;
      portsTaken.insert(nextPort);
    }
    served.ComNumber = draft.Port;
    served.UsbSerial = draft.Usb;
    const std::uint16_t serial =
        draft.Serial >= 0 ? static_cast<std::uint16_t>(draft.Serial) : nextSerial;
    nextSerial = static_cast<std::uint16_t>(serial + 1);
    served.State = KvxSimFactoryState(draft.Model, serial);
    if (draft.Speed >= 0) served.State.SpeedCode = static_cast<std::uint8_t>(draft.Speed);
    served.State.Address = static_cast<std::uint8_t>(draft.Address);
    served.Faults = draft.Faults;
    options.Ports.push_back(served);
  }
  return options;
}
