#include "tools/kvxctl/uCtlOptions.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <sstream>

#include "protocol/uKVXxx.h"
#include "protocol/uModuleAddress.h"
#include "support/uNumberText.h"
#include "support/uProgramArgs.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlErrors.h"

const char* const KvxctlUsage =
    "Usage: kvxctl [options] COMMAND [operands]\n"
    "\n"
    "Commands:\n"
    "  list                       every channel of the machine: port name and description\n"
    "  search                     the module search: model|interface|serial per module\n"
    "  show CHANNEL               the module's record\n"
    "  watch CHANNEL              the four measured values once a second\n"
    "  set CHANNEL FIELD=VALUE... edit and save, then print the fields as the module holds them\n"
    "  backup CHANNEL FILE        the module's configuration as JSON, every real bit for bit\n"
    "  restore CHANNEL FILE       write the differences from FILE, read back and verify\n"
    "  restore CHANNEL DIR        the same from the module's own file in an audit's DIR\n"
    "  audit DIR                  every module found compared with its backup in DIR\n"
    "                             (MODEL-PRODUCT-SERIAL.json); new modules' files written\n"
    "                             and, where DIR is in git, committed\n"
    "  commission PORT --addresses RANGE [--template FILE] [--plant DIR] [--speed BAUD]\n"
    "                             new modules brought one at a time to PORT: each gets the\n"
    "                             next address of RANGE free in DIR and in this run, the\n"
    "                             speed and FILE's settings ({serial}, {address}, {n} filled\n"
    "                             into its texts), is read back at its new address and its\n"
    "                             backup written to DIR (committed where DIR is in git); a\n"
    "                             module DIR already holds keeps its address and is checked\n"
    "                             against its file; Ctrl-C ends after the module in hand\n"
    "  serve                      read every module all the time and serve the values to\n"
    "                             Prometheus at http://HOST:PORT/metrics\n"
    "\n"
    "search and audit show the line and address asked on standard error when it is a\n"
    "  terminal; a search that finds nothing names each port's cause.\n"
    "\n"
    "CHANNEL is a port name (COM7) or a USB adapter's serial number; PORT@ADDRESS (COM5@12)\n"
    "  is the module at that address (0 to 253) of a line several modules share. Given the\n"
    "  port of such a line alone, a command says so and names 'search --addresses 0-253'.\n"
    "FIELD: address, speed, userdata, chN.name, chN.unit, chN.min, chN.max, chN.decimals,\n"
    "  chN.loop (on/off), chN.gain (1..128), chN.watch (on/off), chN.upper, chN.lower,\n"
    "  chN.hyst (N = 1..4). Address and speed only on the RS model. chN.input, the input\n"
    "  range the module reports, is shown and backed up but cannot be set.\n"
    "\n"
    "Options:\n"
    "  --json          machine-readable output (list, search, show, watch)\n"
    "  --csv           comma-separated output (watch): time, then each channel's value\n"
    "  --count N       stop watching after N readings\n"
    "  --baudrate N    search at this speed as well\n"
    "  --addresses RANGE  search, audit, serve: ask each address of RANGE on every line\n"
    "                  (0-253, 1,5,7-12); commission: the addresses to give\n"
    "  --listen HOST:PORT serve: the endpoint's address (default :9731, every address)\n"
    "  --plant DIR     serve: the modules of an audit's DIR; one not found is served as down;\n"
    "                  commission: the line's DIR of backups (as audit keeps them)\n"
    "  --period SECONDS serve: how often each module is read (default 1)\n"
    "  --tls-cert FILE, --tls-key FILE  serve: the endpoint speaks HTTPS with these (PEM)\n"
    "  --auth-file FILE serve: basic authentication with the USER:PASSWORD line of FILE\n"
    "  --mqtt URL      serve: publish every read to an MQTT broker, mqtt://HOST[:PORT]\n"
    "                  (port 1883) or mqtts://HOST[:PORT] (TLS, port 8883)\n"
    "  --mqtt-cafile FILE  serve: the broker's certificate is checked against FILE\n"
    "                  (default: the system's certificates)\n"
    "  --mqtt-user NAME, --mqtt-password-file FILE  serve: the broker's login; the password\n"
    "                  is the first line of FILE\n"
    "  --mqtt-prefix P serve: the topics' first level (default kvx)\n"
    "  --mqtt-discovery[=PREFIX]  serve: Home Assistant discovery (default homeassistant)\n"
    "  --mqtt-protocol 3.1.1|5  serve: the MQTT version (default 3.1.1)\n"
    "  --debug         write the trace file (as the switch DEBUG)\n"
    "  --itp           the 4-20 mA input can be set on every channel\n"
    "  --dry-run       restore, commission: only show what would be written\n"
    "  --with-comm     restore: the address and speed too\n"
    "  --with-userdata restore: the user data too\n"
    "  --to-other-module restore: onto a module with another serial number\n"
    "  --update        audit: replace the files of modules that differ\n"
    "  --template FILE commission: a backup whose settings (not its address) new modules get\n"
    "  --plant DIR     commission: the line's folder of backups (as audit keeps them)\n"
    "  --speed BAUD    commission: the line speed new modules get\n"
    "  --reassign      commission: modules DIR already holds are commissioned anew\n"
    "  -h, --help      this text\n"
    "  --version       the program's version\n"
    "The window's switches DEBUG, DST, STD and baudrate=N work as well.\n"
    "\n"
    "The speed that answered last on each port is kept in $XDG_STATE_HOME/kvxsetup/speeds\n"
    "  (default ~/.local/state) and asked first next time.\n"
    "\n"
    "Exit codes: 0 done, 1 no module or no such channel, 2 usage error, 3 communication\n"
    "error, 4 the module holds something else than was written.\n"
    "audit: 0 every module matches its file, 1 a module differs or a file's module is\n"
    "missing, 2 bad input (a file that does not parse), 3 a module could not be read.\n";

namespace {

[[noreturn]] void Usage(const std::string& Message) {
  throw TCtlError(ceUsage, Message + " (see --help)");
}

std::int64_t Number(const std::string& Option, const std::string& Text, std::int64_t Low,
                    std::int64_t High) {
  const std::optional<std::int64_t> value = ParseDecimalInteger(Text);
  if (!value || *value < Low || *value > High)
    Usage(Option + ": '" + Text + "' is not a number from " + std::to_string(Low) + " to " +
          std::to_string(High));
  return *value;
}

// The options that only switch something on.
struct TSwitchOption {
  const char* Name;
  bool TCtlOptions::*Field;
};
constexpr TSwitchOption kSwitchOptions[] = {
    {"-h", &TCtlOptions::Help},
    {"--help", &TCtlOptions::Help},
    {"--version", &TCtlOptions::Version},
    {"--json", &TCtlOptions::Json},
    {"--csv", &TCtlOptions::Csv},
    {"--dry-run", &TCtlOptions::DryRun},
    {"--with-comm", &TCtlOptions::WithComm},
    {"--with-userdata", &TCtlOptions::WithUserData},
    {"--to-other-module", &TCtlOptions::ToOtherModule},
    {"--update", &TCtlOptions::Update},
    {"--reassign", &TCtlOptions::Reassign},
    {"--itp", &TCtlOptions::Itp},
    {"--debug", &TCtlOptions::Debug},
};

// The options that take a text, and the one command each belongs to.
struct TTextOption {
  const char* Name;
  std::string TCtlOptions::*Field;
  const char* Command;
};
constexpr TTextOption kTextOptions[] = {
    {"--listen", &TCtlOptions::Listen, "serve"},
    {"--plant", &TCtlOptions::Plant, "serve and commission"},
    {"--template", &TCtlOptions::Template, "commission"},
    {"--period", &TCtlOptions::Period, "serve"},
    {"--tls-cert", &TCtlOptions::TlsCert, "serve"},
    {"--tls-key", &TCtlOptions::TlsKey, "serve"},
    {"--auth-file", &TCtlOptions::AuthFile, "serve"},
};

struct TOperandCount {
  const char* Command;
  std::size_t Min;
  std::size_t Max;
};
constexpr TOperandCount kCommands[] = {
    {"list", 0, 0},   {"search", 0, 0},  {"show", 1, 1},  {"watch", 1, 1},      {"set", 2, 1000},
    {"backup", 2, 2}, {"restore", 2, 2}, {"audit", 1, 1}, {"commission", 1, 1}, {"serve", 0, 0}};

}  // namespace

std::chrono::milliseconds ServePeriod(const TCtlOptions& Options) {
  if (Options.Period.empty()) return kDefaultServePeriod;
  const std::optional<double> seconds = ParseDecimalReal(Options.Period);
  if (!seconds || !(*seconds >= 0.1 && *seconds <= 3600))
    Usage("--period: '" + Options.Period + "' is not a number of seconds from 0.1 to 3600");
  return std::chrono::milliseconds(static_cast<std::int64_t>(*seconds * 1000 + 0.5));
}

namespace {

// The --mqtt… options, read by the service's own parser.
bool IsMqttOption(TCtlOptions& Options, const std::vector<std::string>& Args, std::size_t& Index) {
  try {
    return ParseMqttOption(Options.Mqtt, Args, Index);
  } catch (const TMqttSettingsError& error) {
    Usage(error.what());
  }
}

// Whether Command is one of those the option's text names ("serve and commission").
bool OptionFor(const TTextOption& Option, const std::string& Command) {
  std::istringstream words(Option.Command);
  for (std::string word; words >> word;)
    if (word == Command) return true;
  return false;
}

bool IsWindowSwitch(const std::string& Arg) {
  return IsSwitch(Arg, "DEBUG") || IsSwitch(Arg, "DST") || IsSwitch(Arg, "STD") ||
         Arg.starts_with("baudrate=");
}

}  // namespace

std::vector<std::string> TCtlOptions::ControllerArgs() const {
  std::vector<std::string> args;
  for (const std::string& arg : WindowSwitches)
    if (arg.starts_with("baudrate=")) args.push_back(arg);
  if (Baudrate) args.push_back("baudrate=" + std::to_string(*Baudrate));
  if (Speed) args.push_back("baudrate=" + std::to_string(*Speed));
  if (Itp) args.push_back("itp");
  return args;
}

std::vector<std::string> TCtlOptions::ProgramArgs(const std::string& Program) const {
  std::vector<std::string> args{Program};
  args.insert(args.end(), WindowSwitches.begin(), WindowSwitches.end());
  if (Debug) args.push_back("DEBUG");
  return args;
}

TCtlOptions ParseCtlOptions(const std::vector<std::string>& Args) {
  TCtlOptions options;
  std::vector<std::string> words;
  for (std::size_t index = 0; index < Args.size(); ++index) {
    const std::string& arg = Args[index];
    auto value = [&]() -> const std::string& {
      if (index + 1 >= Args.size()) Usage(arg + " needs a value");
      return Args[++index];
    };
    const auto switchOption =
        std::find_if(std::begin(kSwitchOptions), std::end(kSwitchOptions),
                     [&arg](const TSwitchOption& option) { return arg == option.Name; });
    const auto textOption =
        std::find_if(std::begin(kTextOptions), std::end(kTextOptions),
                     [&arg](const TTextOption& option) { return arg == option.Name; });
    if (switchOption != std::end(kSwitchOptions))
      options.*(switchOption->Field) = true;
    else if (textOption != std::end(kTextOptions))
      options.*(textOption->Field) = value();
    else if (arg == "--count")
      options.Count = static_cast<int>(Number(arg, value(), 1, 1000000000));
    else if (arg == "--addresses") {
      options.Addresses = value();
      if (!ParseAddressRange(options.Addresses))
        Usage("--addresses: '" + options.Addresses +
              "' is not a range of addresses from 0 to 253 (0-253, 1,5,7-12)");
    } else if (arg == "--speed") {
      const std::int64_t speed = Number(arg, value(), 1, 3000000);
      if (std::find(kSpeedCodes.begin(), kSpeedCodes.end(), speed) == kSpeedCodes.end())
        Usage("--speed: " + std::to_string(speed) + " is not a module speed");
      options.Speed = static_cast<unsigned>(speed);
    } else if (arg == "--baudrate")
      options.Baudrate = static_cast<unsigned>(Number(arg, value(), 1, 3000000));
    else if (IsMqttOption(options, Args, index))
      continue;
    else if (IsWindowSwitch(arg))
      options.WindowSwitches.push_back(arg);
    else if (arg.starts_with("--"))
      Usage("unknown option '" + arg + "'");
    else
      words.push_back(arg);
  }
  if (options.Help || options.Version) return options;
  if (words.empty()) Usage("no command given");
  options.Command = words.front();
  options.Operands.assign(words.begin() + 1, words.end());
  for (const TOperandCount& command : kCommands) {
    if (options.Command != command.Command) continue;
    if (options.Operands.size() < command.Min || options.Operands.size() > command.Max)
      Usage("wrong number of operands for " + options.Command);
    if (options.Json && options.Csv) Usage("--json and --csv exclude each other");
    const bool commission = options.Command == "commission";
    if (!options.Addresses.empty() && options.Command != "search" && options.Command != "audit" &&
        options.Command != "serve" && !commission)
      Usage("--addresses is for search, audit, serve and commission only");
    for (const TTextOption& option : kTextOptions)
      if (!(options.*(option.Field)).empty() && !OptionFor(option, options.Command))
        Usage(std::string(option.Name) + " is for " + option.Command + " only");
    if (!commission && (options.Speed || options.Reassign))
      Usage("--speed and --reassign are for commission only");
    if (commission && options.Addresses.empty()) Usage("commission needs --addresses RANGE");
    // The module is looked for at 9600, 115200 and the one extra speed, read back at --speed.
    if (commission && options.Speed && options.Baudrate && *options.Speed != *options.Baudrate)
      Usage(
          "commission: --baudrate and --speed must be one speed (new modules are looked for at "
          "9600, 115200 and that one)");
    if (commission && ParsePortAddress(options.Operands.front()) &&
        ParsePortAddress(options.Operands.front())->Address)
      Usage("commission takes the bench port alone, without an address");
    if (!options.Period.empty()) ServePeriod(options);
    if (options.Command != "serve" && !(options.Mqtt == TMqttSettings{}))
      Usage("the --mqtt options are for serve only");
    try {
      CheckMqttSettings(options.Mqtt);
    } catch (const TMqttSettingsError& error) {
      Usage(error.what());
    }
    if (options.TlsCert.empty() != options.TlsKey.empty())
      Usage("--tls-cert and --tls-key go together");
    // An audit's operand is its directory; every other command's first operand is a port.
    if (command.Min > 0 && options.Command != "audit" &&
        !ParsePortAddress(options.Operands.front()))
      Usage("'" + options.Operands.front() +
            "' is not CHANNEL or PORT@ADDRESS with an address from 0 to 253");
    return options;
  }
  Usage("unknown command '" + options.Command + "'");
}
