// kvxctl as a process against simulated modules on pseudo-terminals and behind fake USB
// adapters: what it prints, what it writes into the modules and its exit codes.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/kvxctl/CtlProcess.h"
#include "tests/net/HostileServer.h"
#include "tests/serial/KernelHangUp.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

json ParseOut(const TRunResult& Run) {
  return json::parse(Run.Out, nullptr, false);
}

json ReadJsonFile(const std::string& Path) {
  std::ifstream in(Path);
  return json::parse(in, nullptr, false);
}

std::string TempFile(const std::string& Name) {
  return testing::TempDir() + "kvxctl_" + Name + ".json";
}

TEST(KvxctlProcess, SearchFindsEveryModelOnItsPortAndListShowsThePorts) {
  TSimProcess sim(KVX_SIM_PROGRAM,
                  {"-m",     "usb", "-b", "115200", "-s", "11",    "-n", "-m",     "rs", "-b",
                   "115200", "-s",  "12", "-n",     "-m", "novra", "-b", "115200", "-s", "13"});
  const TRunResult search = RunKvxctl({"search"}, sim.Env());
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("DAZAZE|COM100|0011\n"), std::string::npos) << search.Out;
  EXPECT_NE(search.Out.find("VIROD|COM101|0012\n"), std::string::npos) << search.Out;
  EXPECT_NE(search.Out.find("NOVRA|COM102|0013\n"), std::string::npos) << search.Out;

  const TRunResult list = RunKvxctl({"list", "--json"}, sim.Env());
  ASSERT_EQ(list.Code, 0) << list.Err;
  int ports = 0;
  for (const json& entry : ParseOut(list))
    if (entry["port"] == "COM100" || entry["port"] == "COM101" || entry["port"] == "COM102")
      ++ports;
  EXPECT_EQ(ports, 3) << list.Out;
}

TEST(KvxctlProcess, SearchFindsAModuleBehindAUsbAdapterAndShowReachesItBySerialNumber) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"--usb", "KVXU7", "-b", "115200", "-s", "77"});
  const TRunResult search = RunKvxctl({"search", "--json"}, sim.Env());
  ASSERT_EQ(search.Code, 0) << search.Err;
  const json found = ParseOut(search);
  ASSERT_TRUE(found.is_array()) << search.Out;
  bool usb = false;
  for (const json& module : found)
    usb = usb || (module["interface"] == "USB" && module["serial"] == "0077" &&
                  module["model"] == "DAZAZE");
  EXPECT_TRUE(usb) << search.Out;

  const TRunResult show = RunKvxctl({"show", "--json", "KVXU7"}, sim.Env());
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(ParseOut(show)["serial"], 77);
}

TEST(KvxctlProcess, ShowAndBackupOfEachModelCarryIdentityAndEveryField) {
  TSimProcess sim(KVX_SIM_PROGRAM,
                  {"-m", "usb",    "-b", "115200", "-s",  "21", "-n",     "-m", "rs",
                   "-b", "115200", "-s", "22",     "-n",  "-m", "novra",  "-b", "115200",
                   "-s", "23",     "-n", "-m",     "eth", "-b", "115200", "-s", "24"});
  const char* models[] = {"DAZAZE", "VIROD", "NOVRA", "VIVIDA"};
  for (int i = 0; i < 4; ++i) {
    const std::string port = "COM" + std::to_string(100 + i);
    SCOPED_TRACE(port);
    const TRunResult show = RunKvxctl({"show", "--json", port}, sim.Env());
    ASSERT_EQ(show.Code, 0) << show.Err;
    const json record = ParseOut(show);
    EXPECT_EQ(record["model"], models[i]);
    EXPECT_EQ(record["serial"], 21 + i);
    const json& fields = record["fields"];
    for (const char* name :
         {"address", "speed", "userdata", "ch1.name", "ch1.unit", "ch1.input", "ch1.min", "ch1.max",
          "ch1.decimals", "ch1.watch", "ch4.upper", "ch4.lower", "ch4.hyst"})
      EXPECT_TRUE(fields.contains(name)) << name;
    EXPECT_EQ(fields["speed"], 115200);

    const std::string file = TempFile("each" + std::to_string(i));
    const TRunResult backup = RunKvxctl({"backup", port, file}, sim.Env());
    ASSERT_EQ(backup.Code, 0) << backup.Err;
    const json saved = ReadJsonFile(file);
    EXPECT_EQ(saved["model"], models[i]);
    EXPECT_EQ(saved["serial"], 21 + i);
    EXPECT_EQ(saved["fields"], fields);
    std::remove(file.c_str());
  }
}

TEST(KvxctlProcess, SetWritesEveryFieldKindAndPrintsWhatTheModuleHolds) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "31"});
  const TRunResult set =
      RunKvxctl({"set", "COM100", "userdata=Linka č. 5", "ch1.name=Pec střední", "ch1.unit=K",
                 "ch1.min=-10,5", "ch1.max=250.25", "ch1.decimals=2", "ch2.loop=off", "ch3.gain=32",
                 "ch1.watch=off", "ch4.upper=99.5", "ch4.lower=-7", "ch4.hyst=0.1", "address=9"},
                sim.Env());
  ASSERT_EQ(set.Code, 0) << set.Err;
  for (const char* line :
       {"address: 9\n", "userdata: \"Linka č. 5\"\n", "ch1.name: \"Pec střední\"\n",
        "ch1.unit: \"K\"\n", "ch1.min: -10.5\n", "ch1.max: 250.25\n", "ch1.decimals: 2\n",
        "ch2.loop: off\n", "ch3.gain: 32\n", "ch1.watch: off\n", "ch4.upper: 99.5\n",
        "ch4.lower: -7\n", "ch4.hyst: 0.1\n"})
    EXPECT_NE(set.Out.find(line), std::string::npos) << line << set.Out;

  // A new speed: the module is found again there and holds it.
  const TRunResult speed = RunKvxctl({"set", "COM100", "speed=38400"}, sim.Env());
  ASSERT_EQ(speed.Code, 0) << speed.Err;
  EXPECT_NE(speed.Out.find("speed: 38400\n"), std::string::npos) << speed.Out;
  const TRunResult show = RunKvxctl({"--baudrate", "38400", "show", "--json", "COM100"}, sim.Env());
  ASSERT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(ParseOut(show)["fields"]["ch1.name"], "Pec střední");
  EXPECT_EQ(ParseOut(show)["fields"]["address"], 9);
}

TEST(KvxctlProcess, SetRefusesWhatTheWindowRefusesBeforeWritingAnything) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "usb", "-b", "115200", "-s", "41"});
  const TRunResult before = RunKvxctl({"show", "--json", "COM100"}, sim.Env());
  ASSERT_EQ(before.Code, 0) << before.Err;
  struct TCase {
    std::vector<std::string> Assignments;
    std::string Message;
  };
  const TCase cases[] = {
      {{"ch1.name=A", "ch1.upper=10000.5"}, "ch1.upper: 10000.5 is not between -10000.00"},
      {{"ch2.min=-100000000"}, "ch2.min: -100000000 is not between -99999999.00"},
      {{"ch1.decimals=3"}, "ch1.decimals: 3 is not between 0 and 2"},
      {{"ch2.max=lots"}, "ch2.max: 'lots' is not a number"},
      {{"ch1.input=0..5 V"}, "ch1.input: the input range is given by the module"},
      {{"ch3.gain=3"}, "ch3.gain: '3' is not 1, 2, 4, 8, 16, 32, 64 or 128"},
      {{"ch1.name=123456789012345678901"}, "ch1.name: at most 20 characters"},
      {{"ch1.unit=metrů/s"}, "ch1.unit: at most 5 characters"},
      {{"userdata=12345678901234567"}, "userdata: at most 16 characters"},
      {{"ch5.name=x"}, "unknown field 'ch5.name'"},
      {{"ch1.watch=maybe"}, "ch1.watch: 'maybe' is not on or off"},
      {{"ch1.name"}, "'ch1.name' is not FIELD=VALUE"},
      // Refused after connecting, by what the module is.
      {{"ch1.name=B", "address=5"}, "address: only the RS model's address and speed"},
      {{"ch1.name=B", "ch1.gain=2"}, "ch1.gain: this channel has no gain setting"},
      {{"ch1.name=B", "ch3.loop=on"}, "ch3.loop: this channel has no 4-20 mA input"},
  };
  for (const TCase& test : cases) {
    std::vector<std::string> args{"set", "COM100"};
    args.insert(args.end(), test.Assignments.begin(), test.Assignments.end());
    const TRunResult run = RunKvxctl(args, sim.Env());
    EXPECT_EQ(run.Code, 2) << test.Message;
    EXPECT_NE(run.Err.find(test.Message), std::string::npos) << run.Err;
  }
  const TRunResult after = RunKvxctl({"show", "--json", "COM100"}, sim.Env());
  ASSERT_EQ(after.Code, 0) << after.Err;
  EXPECT_EQ(ParseOut(after), ParseOut(before));
}

TEST(KvxctlProcess, RestoreOfABackupMakesAnotherModuleEqualAndADryRunChangesNothing) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "51", "-n", "-m", "rs", "-b",
                                    "115200", "-s", "52"});
  const TRunResult changed =
      RunKvxctl({"set", "COM101", "address=17", "userdata=Jiná", "ch1.name=Jiný kanál",
                 "ch2.max=3.3", "ch3.gain=1", "ch4.loop=on", "ch4.watch=off", "ch2.hyst=0.3"},
                sim.Env());
  ASSERT_EQ(changed.Code, 0) << changed.Err;
  const std::string file = TempFile("restore");
  ASSERT_EQ(RunKvxctl({"backup", "COM100", file}, sim.Env()).Code, 0);
  const TRunResult before = RunKvxctl({"show", "--json", "COM101"}, sim.Env());

  const TRunResult dry = RunKvxctl({"restore", "--dry-run", "COM101", file}, sim.Env());
  EXPECT_EQ(dry.Code, 0) << dry.Err;
  EXPECT_NE(dry.Out.find("ch1.name: \"Jiný kanál\" -> \"Teplota pece\"\n"), std::string::npos)
      << dry.Out;
  EXPECT_EQ(dry.Out.find("address"), std::string::npos) << "comm only with --with-comm";
  EXPECT_EQ(dry.Out.find("userdata"), std::string::npos) << "user data only when asked";
  EXPECT_NE(dry.Err.find("warning"), std::string::npos) << "another serial number";
  EXPECT_EQ(ParseOut(RunKvxctl({"show", "--json", "COM101"}, sim.Env())), ParseOut(before));

  const TRunResult restore =
      RunKvxctl({"restore", "--with-comm", "--with-userdata", "--to-other-module", "COM101", file},
                sim.Env());
  ASSERT_EQ(restore.Code, 0) << restore.Err;
  EXPECT_NE(restore.Out.find("address: 17 -> 1\n"), std::string::npos) << restore.Out;
  const json original = ReadJsonFile(file);
  const json restored = ParseOut(RunKvxctl({"show", "--json", "COM101"}, sim.Env()));
  EXPECT_EQ(restored["fields"], original["fields"]);

  const TRunResult again = RunKvxctl({"restore", "--to-other-module", "COM101", file}, sim.Env());
  EXPECT_EQ(again.Code, 0) << again.Err;
  EXPECT_NE(again.Out.find("the module matches"), std::string::npos) << again.Out;
  std::remove(file.c_str());
}

TEST(KvxctlProcess, RestoreRefusesABackupOfAnotherModelAndAFileThatIsNoBackup) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "61", "-n", "-m", "novra",
                                    "-b", "115200", "-s", "62"});
  const std::string file = TempFile("model");
  ASSERT_EQ(RunKvxctl({"backup", "COM100", file}, sim.Env()).Code, 0);
  const TRunResult other = RunKvxctl({"restore", "COM101", file}, sim.Env());
  EXPECT_EQ(other.Code, 2);
  EXPECT_NE(other.Err.find("is a backup of a VIROD module, this is a NOVRA"), std::string::npos)
      << other.Err;

  std::ofstream(file) << "{\"model\": \"VIROD\", \"serial\": 61, \"fields\": {\"ch1.max\": \"x\"}}";
  const TRunResult bad = RunKvxctl({"restore", "COM100", file}, sim.Env());
  EXPECT_EQ(bad.Code, 2);
  EXPECT_NE(bad.Err.find("ch1.max: 'x' is not a number"), std::string::npos) << bad.Err;
  std::remove(file.c_str());
}

TEST(KvxctlProcess, WatchPrintsFourValuesPerReadingAsTextCsvAndJson) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "usb", "-b", "115200", "-s", "71"});
  const TRunResult csv = RunKvxctl({"watch", "--csv", "--count", "2", "COM100"}, sim.Env());
  ASSERT_EQ(csv.Code, 0) << csv.Err;
  std::istringstream lines(csv.Out);
  std::string line;
  std::getline(lines, line);
  // The layout of the window's recordings: time, then each channel with its unit.
  EXPECT_EQ(line.rfind("time,", 0), 0u) << line;
  EXPECT_NE(line.find(" [°C]"), std::string::npos) << line;
  const std::string time = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";
  const std::regex csvLine(time + R"((,(-?\d+(\.\d+)?|OVR|)){4})");
  int readings = 0;
  while (std::getline(lines, line)) {
    ++readings;
    EXPECT_TRUE(std::regex_match(line, csvLine)) << line;
  }
  EXPECT_EQ(readings, 2);

  const TRunResult js = RunKvxctl({"watch", "--json", "--count", "1", "COM100"}, sim.Env());
  ASSERT_EQ(js.Code, 0) << js.Err;
  const json reading = ParseOut(js);
  ASSERT_EQ(reading["values"].size(), 4u) << js.Out;
  EXPECT_EQ(reading["units"][0], "°C");
  EXPECT_NE(reading["values"][0], "-") << "the module answers";
  EXPECT_TRUE(std::regex_match(reading["time"].get<std::string>(), std::regex(time))) << js.Out;
}

TEST(KvxctlProcess, ShowCarriesEachChannelsInputRangeAndRestoreLeavesItAlone) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "51"});
  const TRunResult show = RunKvxctl({"show", "COM100"}, sim.Env());
  ASSERT_EQ(show.Code, 0) << show.Err;
  const std::regex input(R"(ch1\.input: "[^"]+")");
  EXPECT_TRUE(std::regex_search(show.Out, input)) << show.Out;

  const std::string file = TempFile("input");
  ASSERT_EQ(RunKvxctl({"backup", "COM100", file}, sim.Env()).Code, 0);
  json saved = ReadJsonFile(file);
  ASSERT_TRUE(saved["fields"]["ch1.input"].is_string()) << saved.dump();
  EXPECT_FALSE(saved["fields"]["ch1.input"].get<std::string>().empty());
  saved["fields"]["ch1.input"] = "something else";
  std::ofstream(file) << saved.dump(2);
  const TRunResult restore = RunKvxctl({"restore", "COM100", file}, sim.Env());
  EXPECT_EQ(restore.Code, 0) << restore.Err;
  EXPECT_NE(restore.Out.find("the module matches"), std::string::npos) << restore.Out;
  std::remove(file.c_str());
}

// The instructions kvxctl writes, as the traffic monitor receives them. The monitor's queue
// is short, so a thread takes each message as it comes.
class TTrafficListener {
 public:
  TTrafficListener() {
    char pattern[] = "/tmp/kvxctl-traffic-XXXXXX";
    FDir = ::mkdtemp(pattern);
    FFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = FDir + "/TfMainTirmelTerm";
    std::copy(path.begin(), path.end(), address.sun_path);
    EXPECT_EQ(::bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    FReader = std::thread([this] { Read(); });
  }
  ~TTrafficListener() {
    FStop = true;
    FReader.join();
    ::close(FFd);
    std::filesystem::remove_all(FDir);
  }
  std::string Env() const { return "XDG_RUNTIME_DIR=" + FDir; }
  // How often each instruction was written so far.
  std::map<int, int> WrittenInstructions() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last messages
    std::lock_guard lock(FLock);
    return FWritten;
  }
  // How many frames went to each address so far.
  std::map<int, int> WrittenAddresses() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard lock(FLock);
    return FAddresses;
  }

 private:
  void Read() {
    char buffer[4096];
    while (!FStop) {
      pollfd ready{FFd, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0) continue;
      const ssize_t size = ::recv(FFd, buffer, sizeof buffer, MSG_DONTWAIT);
      // Direction 1 is written; a request frame is "*a", length, address, signature,
      // instruction.
      if (size > 7 && buffer[0] == 1 && buffer[1] == '*' && buffer[2] == 'a') {
        std::lock_guard lock(FLock);
        ++FWritten[static_cast<unsigned char>(buffer[7])];
        ++FAddresses[static_cast<unsigned char>(buffer[5])];
      }
    }
  }

  std::string FDir;
  int FFd = -1;
  std::mutex FLock;
  std::map<int, int> FWritten;
  std::map<int, int> FAddresses;
  std::atomic<bool> FStop{false};
  std::thread FReader;
};

TEST(KvxctlProcess, ShowMakesOneModuleCheckAndOneDownload) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-s", "52"});
  TTrafficListener traffic;
  std::vector<std::string> env = sim.Env();
  env.push_back(traffic.Env());
  const TRunResult show = RunKvxctl({"show", "DST", "COM100"}, env);
  ASSERT_EQ(show.Code, 0) << show.Err;
  const std::map<int, int> written = traffic.WrittenInstructions();
  constexpr int kReadType = 0xF3, kReadChannelSetup = 0x1F;
  // A download asks each of its questions twice; the check asks for the type once more.
  EXPECT_EQ(written.count(kReadChannelSetup) ? written.at(kReadChannelSetup) : 0, 2);
  EXPECT_EQ(written.count(kReadType) ? written.at(kReadType) : 0, 3);
}

TEST(KvxctlProcess, OnASharedLineThePlainSearchNamesTheCollisionAndTheAddressScanFindsEach) {
  TSimProcess sim(KVX_SIM_PROGRAM, kLineOfThree);
  const TRunResult plain = RunKvxctl({"search"}, sim.Env());
  EXPECT_EQ(plain.Code, 1);
  EXPECT_NE(plain.Err.find("COM5: several modules seem to answer at once; scan the line with "
                           "--addresses 0-253"),
            std::string::npos)
      << plain.Err;
  const TRunResult scan = RunKvxctl({"search", "--addresses", "1-15,199-201"}, sim.Env());
  EXPECT_EQ(scan.Code, 0) << scan.Err;
  EXPECT_EQ(scan.Out, "VIROD|COM5@7|4007\nVIROD|COM5@12|4012\nVIROD|COM5@200|4200\n");
}

// The speed that answered is kept in the state folder: the next run asks there first.
TEST(KvxctlProcess, TheSpeedThatAnsweredIsAskedFirstInTheNextRun) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "71"});
  const std::string state = TempFile("speed-state");
  std::filesystem::remove_all(state);
  std::vector<std::string> env = sim.Env();
  env.push_back("XDG_STATE_HOME=" + state);
  const TRunResult first = RunKvxctl({"show", "COM100"}, env);
  ASSERT_EQ(first.Code, 0) << first.Err;
  std::ifstream file(state + "/kvxsetup/speeds");
  const std::string kept{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_EQ(kept, "COM100\tbaudrate=115200\n");
  const TRunResult second = RunKvxctl({"--debug", "show", "COM100"}, env);
  ASSERT_EQ(second.Code, 0) << second.Err;
  const std::string lines = TakeTraceFile(second);
  const std::size_t check = lines.find("CheckDevice (");
  ASSERT_NE(check, std::string::npos) << second.Err;
  EXPECT_EQ(lines.substr(check, 22), "CheckDevice (result=1)") << "asked at 9600 first";
  std::filesystem::remove_all(state);
}

// show, set and backup of the line's port alone hear the modules answer at once: they say so
// and name what to do instead.
TEST(KvxctlProcess, OnASharedLineShowSetAndBackupNameTheAddressToGive) {
  TSimProcess sim(KVX_SIM_PROGRAM, kLineOfThree);
  const std::string file = TempFile("shared");
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"show", "COM5"}, {"set", "COM5", "ch1.unit=mV"}, {"backup", "COM5", file}}) {
    SCOPED_TRACE(command.front());
    const TRunResult run = RunKvxctl(command, sim.Env());
    EXPECT_EQ(run.Code, 1) << run.Err;
    EXPECT_EQ(run.Err,
              "kvxctl: several modules answer at once on COM5: name one as COM5@ADDRESS; "
              "'kvxctl search --addresses 0-253' lists their addresses\n");
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(KvxctlProcess, EachCommandOnPortAtAddressSendsEveryFrameThereAndChangesThatModuleOnly) {
  TSimProcess sim(KVX_SIM_PROGRAM, kLineOfThree);
  const std::string file = TempFile("line12");
  const std::vector<std::vector<std::string>> commands = {
      {"show", "--json", "COM5@12"},        {"set", "COM5@12", "ch1.unit=mV"},
      {"watch", "--count", "1", "COM5@12"}, {"backup", "COM5@12", file},
      {"restore", "COM5@12", file},
  };
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command.front());
    TTrafficListener traffic;
    std::vector<std::string> env = sim.Env();
    env.push_back(traffic.Env());
    std::vector<std::string> args = command;
    args.push_back("DST");
    const TRunResult run = RunKvxctl(args, env);
    EXPECT_EQ(run.Code, 0) << run.Err;
    const std::map<int, int> addresses = traffic.WrittenAddresses();
    EXPECT_EQ(addresses.size(), 1u) << "frames by address: " << testing::PrintToString(addresses);
    EXPECT_TRUE(addresses.contains(12));
  }
  EXPECT_EQ(ReadJsonFile(file)["address"], 12);
  EXPECT_EQ(ReadJsonFile(file)["fields"]["ch1.unit"], "mV");
  for (const char* other : {"COM5@7", "COM5@200"}) {
    const TRunResult show = RunKvxctl({"show", "--json", other}, sim.Env());
    ASSERT_EQ(show.Code, 0) << show.Err;
    EXPECT_NE(ParseOut(show)["fields"]["ch1.unit"], "mV") << other;
  }
  std::remove(file.c_str());
}

TEST(KvxctlProcess, AModuleThatStopsAnsweringIsACommunicationError) {
  // Enough answers for the first test of the channel; it falls silent while connecting or
  // saving, and either way the module is lost.
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "usb", "-b", "115200", "-f", "stop-after=20"});
  const TRunResult set = RunKvxctl({"set", "COM100", "ch1.name=Nic"}, sim.Env());
  EXPECT_EQ(set.Code, 3) << set.Out << set.Err;
  EXPECT_NE(set.Err.find("communication with the KVX module failed"), std::string::npos) << set.Err;
}

TEST(KvxctlProcess, AModuleThatIgnoresWritesFailsVerificationNamingTheFields) {
  TSimProcess sim(KVX_WRITELESS_PROGRAM, {"100"});
  const TRunResult set = RunKvxctl({"set", "COM100", "ch2.unit=psi", "ch1.hyst=3"}, sim.Env());
  EXPECT_EQ(set.Code, 4) << set.Out << set.Err;
  EXPECT_NE(set.Err.find("ch2.unit (written 'psi', module holds 'bar')"), std::string::npos)
      << set.Err;
  EXPECT_NE(set.Err.find("ch1.hyst"), std::string::npos) << set.Err;
  EXPECT_EQ(set.Err.find("ch1.name"), std::string::npos) << "an unchanged field is no failure";
}

// The pseudo-terminal behind Line (a COM number or a fake adapter's serial number) in a
// simulator's environment: "KVX_COMPORTS=100=/dev/pts/3", "KVX_FAKE_FTDI=KVXU9:...=/dev/pts/4".
std::string SimLinePath(const TSimProcess& Sim, const std::string& Line) {
  for (const std::string& variable : Sim.Env()) {
    std::size_t at = variable.find('=');
    while (at != std::string::npos) {
      const std::size_t start = at + 1;
      if (variable.compare(start, Line.size(), Line) == 0) {
        const std::size_t path = variable.find('=', start) + 1;
        return variable.substr(path, variable.find(';', path) - path);
      }
      at = variable.find(';', start);
    }
  }
  return {};
}

// Runs kvxctl with Args and hangs up Line of Sim After its start, as a pulled USB-serial
// converter does; the run's result and how long kvxctl went on after the hang-up.
struct THungUpRun {
  TRunResult Run;
  std::string Why;  // why the line could not be hung up; empty when it was
  std::chrono::milliseconds AfterHangUp{0};
};
THungUpRun RunAndHangUp(const std::vector<std::string>& Args, const TSimProcess& Sim,
                        const std::string& Line, std::chrono::milliseconds After) {
  using Clock = std::chrono::steady_clock;
  THungUpRun result;
  Clock::time_point hungUp;
  std::thread puller([&] {
    std::this_thread::sleep_for(After);
    result.Why = KernelHangUp(SimLinePath(Sim, Line));
    hungUp = Clock::now();
  });
  result.Run = RunKvxctl(Args, Sim.Env());
  const auto ended = Clock::now();
  puller.join();
  result.AfterHangUp = std::chrono::duration_cast<std::chrono::milliseconds>(ended - hungUp);
  return result;
}

// The run ended with exit code 3 naming Port as disconnected, at once rather than after the
// remaining readings or their time limits.
void ExpectDisconnectReported(const THungUpRun& Hung, const std::string& Port) {
  EXPECT_EQ(Hung.Run.Code, 3) << Hung.Run.Out << Hung.Run.Err;
  EXPECT_NE(Hung.Run.Err.find(Port + " was disconnected"), std::string::npos) << Hung.Run.Err;
  EXPECT_LT(Hung.AfterHangUp, 5s);
}

TEST(KvxctlProcess, WatchOnALineThatIsHungUpExitsThreeNamingThePort) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "81"});
  const THungUpRun watch = RunAndHangUp({"watch", "--count", "60", "COM100"}, sim, "100", 4s);
  if (!watch.Why.empty()) GTEST_SKIP() << watch.Why;
  ExpectDisconnectReported(watch, "COM100");
}

TEST(KvxctlProcess, ShowOnALineThatIsHungUpWhileReadingExitsThreeNamingThePort) {
  // Slow answers stretch the reading of the module over several seconds.
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "82", "-f", "slow=150"});
  const THungUpRun show = RunAndHangUp({"show", "COM100"}, sim, "100", 1500ms);
  if (!show.Why.empty()) GTEST_SKIP() << show.Why;
  ExpectDisconnectReported(show, "COM100");
}

TEST(KvxctlProcess, WatchOnAnAdapterPulledOutExitsThreeNamingTheAdapter) {
  // The fake adapter relays to the simulator's line: hanging that up pulls the adapter.
  TSimProcess sim(KVX_SIM_PROGRAM, {"--usb", "KVXU9", "-b", "115200", "-s", "83"});
  const THungUpRun watch = RunAndHangUp({"watch", "--count", "60", "KVXU9"}, sim, "KVXU9", 4s);
  if (!watch.Why.empty()) GTEST_SKIP() << watch.Why;
  ExpectDisconnectReported(watch, "KVXU9");
}

TEST(KvxctlProcess, ShowOfAPortHeldByAnotherProgramSaysItIsInUse) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "115200", "-s", "84"});
  // Another program holds the port as kvxctl itself would.
  const int held = ::open(SimLinePath(sim, "100").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const TRunResult show = RunKvxctl({"show", "COM100"}, sim.Env());
  ::close(held);
  EXPECT_EQ(show.Code, 3) << show.Out << show.Err;
  // The holder is named: here this test's own process.
  const std::string holder = "COM100 is used by " + std::string(program_invocation_short_name) +
                             ", pid " + std::to_string(::getpid());
  EXPECT_NE(show.Err.find(holder), std::string::npos) << show.Err;
  EXPECT_EQ(RunKvxctl({"show", "COM100"}, sim.Env()).Code, 0) << "free again";
}

TEST(KvxctlProcess, SearchWithAnExtraSpeedFindsAModuleAnsweringOnlyAt1200) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-b", "1200", "-s", "12"});
  const TRunResult search = RunKvxctl({"search", "--baudrate", "1200"}, sim.Env());
  EXPECT_EQ(search.Code, 0) << search.Err;
  EXPECT_NE(search.Out.find("VIROD|COM100|0012\n"), std::string::npos) << search.Out;
}

TEST(KvxctlProcess, ABadDeviceServerEntryIsNamedRatherThanReportedAsNoModule) {
  struct TCase {
    const char* Entry;
    const char* Said;
  };
  const TCase cases[] = {
      {"9=rfc2217://",
       "KVX_COMPORTS: malformed entry \"9=rfc2217://\" ('rfc2217://' is not a "
       "serial device server URL (HOST:PORT expected))"},
      {"9=tcp://[::1",
       "KVX_COMPORTS: malformed entry \"9=tcp://[::1\" ('tcp://[::1' is not a "
       "serial device server URL (unclosed '['))"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Entry);
    const TRunResult show =
        RunKvxctl({"show", "COM9"}, {std::string("KVX_COMPORTS=") + test.Entry});
    EXPECT_EQ(show.Code, 3);
    EXPECT_NE(show.Err.find(test.Said), std::string::npos) << show.Err;
    EXPECT_NE(show.Err.find("COM9: '"), std::string::npos) << show.Err;
    EXPECT_EQ(show.Err.find("no KVX module answers"), std::string::npos) << show.Err;
  }
}

// A device server that offers and withdraws an option without end: the trace names it once,
// with a count, and show keeps its time (measured at about 2 s; 20 s when each was traced).
TEST(KvxctlProcess, ATelnetOptionStormIsTracedOnceWithACountAndShowKeepsItsTime) {
  THostileServer server(hostile::OptionStorm);
  const auto start = std::chrono::steady_clock::now();
  const TRunResult show =
      RunKvxctl({"--debug", "show", "COM9"}, {"KVX_COMPORTS=9=" + server.Url()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
  EXPECT_NE(show.Code, 0) << show.Err;
  // time;text;... each line ending in CR LF
  std::istringstream trace(TakeTraceFile(show));
  std::vector<std::string> storm;
  for (std::string line; std::getline(trace, line);) {
    const std::size_t text = line.find(';') + 1;
    if (line.ends_with('\r')) line.pop_back();
    if (line.find("refuses binary transmission") != std::string::npos)
      storm.push_back(std::regex_replace(line.substr(text, line.find(';', text) - text),
                                         std::regex(R"(\d+ times)"), "N times"));
  }
  EXPECT_EQ(storm, (std::vector<std::string>{
                       "COM9 the server refuses binary transmission",
                       "COM9 the server refuses binary transmission (N times more)"}));
}

TEST(KvxctlProcess, ChannelsWithoutModulesAndBadCommandLines) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "usb", "-b", "115200", "-f", "no-answer"});
  EXPECT_EQ(RunKvxctl({"show", "COM100"}, sim.Env()).Code, 1);
  const TRunResult missing = RunKvxctl({"show", "COM177"}, sim.Env());
  EXPECT_EQ(missing.Code, 1);
  EXPECT_NE(missing.Err.find("no channel COM177"), std::string::npos) << missing.Err;
  EXPECT_EQ(RunKvxctl({}, sim.Env()).Code, 2);
  EXPECT_EQ(RunKvxctl({"show"}, sim.Env()).Code, 2);
  EXPECT_EQ(RunKvxctl({"--bogus", "list"}, sim.Env()).Code, 2);
  const TRunResult help = RunKvxctl({"--help"}, sim.Env());
  EXPECT_EQ(help.Code, 0);
  EXPECT_NE(help.Out.find("restore CHANNEL FILE"), std::string::npos);
}

}  // namespace

namespace {

std::string ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(KvxctlProcess, WithoutTheD2XXLibraryListSaysHowAdaptersAreReachedAndTheTraceSaysWhy) {
  const std::string state = testing::TempDir() + "kvxctl_state";
  const TRunResult list =
      RunKvxctl({"--debug", "list"},
                {"KVX_FTD2XX_LIBRARY=/nonexistent/libftd2xx.so", "XDG_STATE_HOME=" + state});
  ASSERT_EQ(list.Code, 0) << list.Err;
  EXPECT_NE(list.Err.find("kvxctl: USB adapters are reached only as ttyUSB ports without the "
                          "D2XX library (/nonexistent/libftd2xx.so: cannot open shared object "
                          "file"),
            std::string::npos)
      << list.Err;

  // The trace file is named once, and holds the loader's words.
  const std::string announce = "kvxctl: trace file ";
  const std::size_t at = list.Err.find(announce);
  ASSERT_NE(at, std::string::npos) << list.Err;
  EXPECT_EQ(list.Err.find(announce, at + 1), std::string::npos) << list.Err;
  const std::size_t start = at + announce.size();
  const std::string path = list.Err.substr(start, list.Err.find('\n', start) - start);
  const std::string trace = ReadText(path);
  std::remove(path.c_str());
  EXPECT_NE(trace.find(";D2XX library not loaded: /nonexistent/libftd2xx.so: cannot open"),
            std::string::npos)
      << trace;
}

TEST(KvxctlProcess, VersionNamesTheProgramAndItsVersion) {
  const TRunResult version = RunKvxctl({"--version"}, {});
  EXPECT_EQ(version.Code, 0);
  EXPECT_EQ(version.Out, std::string("kvxctl ") + KVX_VERSION_TEXT + "\n");
}

TEST(KvxctlProcess, WithTheD2XXLibraryListSaysNothingAboutIt) {
  TSimProcess sim(KVX_SIM_PROGRAM, {"--usb", "KVXU8", "-b", "115200", "-s", "78"});
  const TRunResult list = RunKvxctl({"list"}, sim.Env());
  ASSERT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Err.find("D2XX"), std::string::npos) << list.Err;
  EXPECT_NE(list.Out.find("KVXU8"), std::string::npos) << list.Out;
}

}  // namespace
