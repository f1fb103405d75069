// kvx-sim's command line: the modules it serves and the errors it names.
#include "tools/kvx-sim/uKvxSimOptions.h"

#include <gtest/gtest.h>

namespace {

std::string ErrorOf(const std::vector<std::string>& Args) {
  try {
    ParseKvxSimOptions(Args);
  } catch (const std::exception& E) {
    return E.what();
  }
  return "(no error)";
}

TEST(KvxSimOptions, ModulesTakeTheOptionsGivenAfterThemAndDefaultsCountUp) {
  auto O = ParseKvxSimOptions({"-b", "9600", "-s", "4711", "--module", "-m", "rs", "-p", "100",
                               "-f", "split", "-f", "stop-after=3", "-n"});
  ASSERT_EQ(O.Ports.size(), 3u);
  EXPECT_EQ(O.Ports[0].ComNumber, 101);  // 100 is taken by the second module
  EXPECT_EQ(O.Ports[0].State.SerialNumber, 4711);
  EXPECT_EQ(kSpeedCodes[O.Ports[0].State.SpeedCode], 9600u);
  EXPECT_EQ(O.Ports[0].State.Model, mtUSB);
  EXPECT_EQ(O.Ports[1].ComNumber, 100);
  EXPECT_EQ(O.Ports[1].State.Model, mtRS);
  EXPECT_EQ(O.Ports[1].State.SerialNumber, 4712);
  EXPECT_EQ(O.Ports[1].Faults.Chunks, 2);
  EXPECT_EQ(O.Ports[1].Faults.StopAfter, 3);
  EXPECT_EQ(O.Ports[2].ComNumber, 102);
  EXPECT_FALSE(O.Ports[2].Faults.StopAfter.has_value());
  EXPECT_FALSE(O.Help);
  EXPECT_TRUE(ParseKvxSimOptions({"--help"}).Help);
}

TEST(KvxSimOptions, BadArgumentsAreNamed) {
  EXPECT_EQ(ErrorOf({"-b", "9601"}), "-b: 9601 is not a module speed");
  EXPECT_EQ(ErrorOf({"-p"}), "-p needs a value");
  EXPECT_EQ(ErrorOf({"-p", "0"}), "-p: 0 is not in 1 to 65535");
  EXPECT_EQ(ErrorOf({"-s", "x1"}), "-s: 'x1' is not a number");
  EXPECT_EQ(ErrorOf({"-m", "serial"}), "--model: 'serial' is not usb, eth, rs or novra");
  EXPECT_EQ(ErrorOf({"-f", "slow"}), "--fault: 'slow' needs =N");
  EXPECT_EQ(ErrorOf({"-f", "noise=2"}), "--fault: 'noise=2' takes no value");
  EXPECT_EQ(ErrorOf({"-f", "melt"}), "--fault: unknown fault 'melt'");
  EXPECT_EQ(ErrorOf({"-p", "7", "-n", "-p", "7"}), "--port 7 is given twice");
  EXPECT_EQ(ErrorOf({"--bogus"}), "unknown argument '--bogus' (see --help)");
}

TEST(KvxSimUsbOption, UsbModulesTakeNoComPort) {
  auto options = ParseKvxSimOptions({"--usb", "KVX-1", "-n", "-u", "b_2", "-n"});
  ASSERT_EQ(options.Ports.size(), 3u);
  EXPECT_EQ(options.Ports[0].UsbSerial, "KVX-1");
  EXPECT_EQ(options.Ports[0].ComNumber, 0);
  EXPECT_EQ(options.Ports[1].UsbSerial, "b_2");
  EXPECT_EQ(options.Ports[2].UsbSerial, "");
  EXPECT_EQ(options.Ports[2].ComNumber, 100);
}

TEST(KvxSimUsbOption, BadSerialNumbersAndConflictsAreRefused) {
  EXPECT_EQ(ErrorOf({"--usb", "a;b"}), "--usb: 'a;b' is not 1 to 15 letters, digits, '-' or '_'");
  EXPECT_EQ(ErrorOf({"-u", "0123456789ABCDEF"}),
            "-u: '0123456789ABCDEF' is not 1 to 15 letters, digits, '-' or '_'");
  EXPECT_EQ(ErrorOf({"--usb"}), "--usb needs a value");
  EXPECT_EQ(ErrorOf({"-u", "X", "-p", "5"}),
            "--port and --usb cannot both be given for one module");
  EXPECT_EQ(ErrorOf({"-u", "X", "-n", "-u", "X"}), "--usb X is given twice");
}

}  // namespace

namespace {

TEST(KvxSimLineOption, ALineWithoutAModuleBeforeItOrWithTwiceOneAddressIsRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-l"}, "--line needs a module before it to share the line with"},
      {{"-n", "-l", "-p", "9"},
       "--line takes the port of the module before it: no --port or --usb"},
      {{"-a", "7", "-n", "-l", "-a", "7"}, "--address 7 is given twice on one line"},
  };
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(args.size());
    EXPECT_EQ(ErrorOf(args), error);
  }
}

}  // namespace
