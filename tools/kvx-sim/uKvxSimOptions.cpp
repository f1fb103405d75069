#include "tools/kvx-sim/uKvxSimOptions.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "support/uErrors.h"
#include "support/uStringUtils.h"

const char* const KvxSimUsage =
    "Usage: kvx-sim [module options] [--module [module options]]...\n"
    "Serves simulated KVX modules on pseudo-terminals until interrupted, and prints the\n"
    "KVX_COMPORTS entry that reaches each of them.\n"
    "\n"
    "Module options (they apply to the module begun last):\n"
    "  -n, --module          begin another module\n"
    "  -p, --port N          COM number of its KVX_COMPORTS entry (default 100, 101, ...)\n"
    "  -m, --model NAME      usb, eth, rs or novra (default usb)\n"
    "  -s, --serial N        serial number, 0 to 65535 (default 1, 2, ...)\n"
    "  -b, --speed BAUD      the only speed it answers at: 110, 300, 600, 1200, 2400, 4800,\n"
    "                        9600, 19200, 38400, 57600, 115200 or 230400 (default: the model's)\n"
    "  -a, --address N       module address, 1 to 253 (default 1)\n"
    "  -u, --usb SERIAL      put it behind a fake USB adapter with this serial number\n"
    "                        (1 to 15 letters, digits, '-' or '_') instead of a COM port;\n"
    "                        prints the environment that makes the tool load the fake\n"
    "                        adapter library\n"
    "  -f, --fault FAULT     no-answer, wrong-checksum, alternate, noise, split,\n"
    "                        slow=MS, truncate=N or stop-after=N (may be repeated)\n"
    "  -h, --help            this text\n";

namespace {

long ParseNumber(const std::string& Option, const std::string& Text, long Min, long Max) {
  if (Text.empty() || Text.size() > 9 || !std::all_of(Text.begin(), Text.end(), ::isdigit))
    throw Exception(Option + ": '" + Text + "' is not a number");
  long Value = std::stol(Text);
  if (Value < Min || Value > Max)
    throw Exception(Format("%s: %ld is not in %ld to %ld", Option.c_str(), Value, Min, Max));
  return Value;
}

std::string ParseUsbSerial(const std::string& Option, const std::string& Text) {
  const bool Valid =
      !Text.empty() && Text.size() <= 15 && std::all_of(Text.begin(), Text.end(), [](char C) {
        return std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '_';
      });
  if (!Valid)
    throw Exception(Option + ": '" + Text + "' is not 1 to 15 letters, digits, '-' or '_'");
  return Text;
}

TKVXModuleType ParseModel(const std::string& Text) {
  std::string Name = UpperCase(Text);
  if (Name == "USB") return mtUSB;
  if (Name == "ETH") return mtETH;
  if (Name == "RS") return mtRS;
  if (Name == "NOVRA") return mtNOVRA;
  throw Exception("--model: '" + Text + "' is not usb, eth, rs or novra");
}

void ApplyFault(TKvxSimFaults& F, const std::string& Text) {
  std::size_t Eq = Text.find('=');
  std::string Name = Text.substr(0, Eq);
  std::string Value = Eq == std::string::npos ? std::string() : Text.substr(Eq + 1);
  bool NeedsValue = Name == "slow" || Name == "truncate" || Name == "stop-after";
  if (NeedsValue == Value.empty() && (NeedsValue || Eq != std::string::npos))
    throw Exception("--fault: '" + Text + "' " + (NeedsValue ? "needs =N" : "takes no value"));
  if (Name == "no-answer")
    F.NoAnswer = true;
  else if (Name == "wrong-checksum")
    F.WrongChecksum = true;
  else if (Name == "alternate")
    F.AlternateAnswers = true;
  else if (Name == "noise")
    F.NoiseBefore = std::string("\x00\x55\xAA", 3);
  else if (Name == "split") {
    F.Chunks = 2;
    F.ChunkGap = std::chrono::milliseconds(30);
  } else if (Name == "slow")
    F.ExtraDelay = std::chrono::milliseconds(ParseNumber("--fault slow", Value, 0, 600000));
  else if (Name == "truncate")
    F.TruncateBy = static_cast<std::size_t>(ParseNumber("--fault truncate", Value, 1, 1000));
  else if (Name == "stop-after")
    F.StopAfter = static_cast<int>(ParseNumber("--fault stop-after", Value, 0, 1000000));
  else
    throw Exception("--fault: unknown fault '" + Text + "'");
}

}  // namespace

TKvxSimOptions ParseKvxSimOptions(const std::vector<std::string>& Args) {
  TKvxSimOptions Options;
  struct TDraft {
    std::int32_t Port = 0;
    TKVXModuleType Model = mtUSB;
    std::int32_t Serial = -1;
    std::int32_t Speed = -1;
    std::int32_t Address = 1;
    std::string Usb;
    TKvxSimFaults Faults;
  };
  std::vector<TDraft> Drafts(1);
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& A = Args[i];
    auto Value = [&]() -> const std::string& {
      if (i + 1 >= Args.size()) throw Exception(A + " needs a value");
      return Args[++i];
    };
    TDraft& D = Drafts.back();
    if (A == "-h" || A == "--help")
      Options.Help = true;
    else if (A == "-n" || A == "--module")
      Drafts.emplace_back();
    else if (A == "-p" || A == "--port")
      D.Port = static_cast<std::int32_t>(ParseNumber(A, Value(), 1, 65535));
    else if (A == "-m" || A == "--model")
      D.Model = ParseModel(Value());
    else if (A == "-s" || A == "--serial")
      D.Serial = static_cast<std::int32_t>(ParseNumber(A, Value(), 0, 65535));
    else if (A == "-b" || A == "--speed") {
      long Baud = ParseNumber(A, Value(), 1, 1000000);
      auto It = std::find(kSpeedCodes.begin(), kSpeedCodes.end(), static_cast<std::uint32_t>(Baud));
      if (It == kSpeedCodes.end())
        throw Exception(Format("%s: %ld is not a module speed", A.c_str(), Baud));
      D.Speed = static_cast<std::int32_t>(It - kSpeedCodes.begin());
    } else if (A == "-a" || A == "--address")
      D.Address = static_cast<std::int32_t>(ParseNumber(A, Value(), 1, 253));
    else if (A == "-u" || A == "--usb")
      D.Usb = ParseUsbSerial(A, Value());
    else if (A == "-f" || A == "--fault")
      ApplyFault(D.Faults, Value());
    else
      throw Exception("unknown argument '" + A + "' (see --help)");
  }
  std::set<std::int32_t> Taken;
  std::set<std::string> UsbTaken;
  for (auto& D : Drafts) {
    if (D.Port && !Taken.insert(D.Port).second)
      throw Exception(Format("--port %d is given twice", D.Port));
    if (D.Port && !D.Usb.empty())
      throw Exception("--port and --usb cannot both be given for one module");
    if (!D.Usb.empty() && !UsbTaken.insert(D.Usb).second)
      throw Exception("--usb " + D.Usb + " is given twice");
  }
  std::int32_t NextPort = 100;
  std::uint16_t NextSerial = 1;
  for (auto& D : Drafts) {
    TKvxSimPortSpec Served;
    if (!D.Port && D.Usb.empty()) {
      while (Taken.count(NextPort)) ++NextPort;
      D.Port = NextPort;
      Taken.insert(NextPort);
    }
    Served.ComNumber = D.Port;
    Served.UsbSerial = D.Usb;
    std::uint16_t Serial = D.Serial >= 0 ? static_cast<std::uint16_t>(D.Serial) : NextSerial;
    NextSerial = static_cast<std::uint16_t>(Serial + 1);
    Served.State = KvxSimFactoryState(D.Model, Serial);
    if (D.Speed >= 0) Served.State.SpeedCode = static_cast<std::uint8_t>(D.Speed);
    Served.State.Address = static_cast<std::uint8_t>(D.Address);
    Served.Faults = D.Faults;
    Options.Ports.push_back(Served);
  }
  return Options;
}
