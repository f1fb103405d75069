#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include <unistd.h>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "support/uLogUtils.h"
#include "tests/support/LogTestHooks.h"
#include "support/uProgramArgs.h"

namespace {

struct TComponent : TLogSender {
  std::string ClassName() const override { return "TfMain"; }
  std::optional<std::string> ComponentName() const override { return "fMain"; }
};

struct TPlainObject : TLogSender {
  std::string ClassName() const override { return "TKVXList"; }
};

struct TFaultySender : TLogSender {
  std::string ClassName() const override { throw std::runtime_error("broken"); }
};

// 2024-01-31 14:03:07.123 local time.
const TDateTime Jan31 = EncodeDateTime({2024, 1, 31, 14, 3, 7, 123});

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDebugLogDirectory(temp_.Dir());
    SetDebugLogClock([this] { return clock_.load(); });
  }
  void TearDown() override {
    ShutdownDebugLog();
    SetDebugLogClock({});
    SetDebugLogDirectory("");
  }
  void Start(std::vector<std::string> args) {
    SetProgramArgs(std::move(args));
    StartDebugLog();
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Dir()))
      names.insert(entry.path().filename().string());
    return names;
  }
  std::string Content(const std::string& name) const { return ReadBytes(temp_.File(name)); }

  TTempDir temp_;
  // The second place of the trace, kept inside the test's folder.
  ScopedEnv state_{"XDG_STATE_HOME", temp_.File("state")};
  std::atomic<TDateTime> clock_{Jan31};
};

}  // namespace

TEST_F(DebugLogTest, WithoutTheSwitchNoFileIsEverCreated) {
  Start({"/opt/kvx/kvxsetup", "DST", "itp"});
  for (int i = 0; i < 500; ++i) DebugLog("line", nullptr, 0, i);
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(DebugLogFileName(), "");
}

TEST_F(DebugLogTest, SwitchSpellings) {
  for (const char* argument : {"DEBUG", "debug", "/Debug", "-DEBUG", " debug "}) {
    Start({"prog", argument});
    DebugLog("x", nullptr, 0, 0);
    ShutdownDebugLog();
    EXPECT_EQ(Files().size(), 1u) << argument;
    std::filesystem::remove(temp_.File("20240131_0.log"));
  }
  for (const char* argument : {"--debug", "DEBUGX"}) {
    Start({"prog", argument});
    DebugLog("x", nullptr, 0, 0);
    ShutdownDebugLog();
    EXPECT_TRUE(Files().empty()) << argument;
  }
  Start({"DEBUG"});  // the program's own path counts too
  DebugLog("x", nullptr, 0, 0);
  EXPECT_EQ(Files().size(), 1u);
}

TEST_F(DebugLogTest, FileNumbersFillGapsFromZero) {
  WriteBytes(temp_.File("20240131_1.log"), "older run");
  Start({"prog", "DEBUG"});
  DebugLog("a", nullptr, 0, 0);
  EXPECT_EQ(DebugLogFileName(), temp_.File("20240131_0.log"));
  ShutdownDebugLog();

  Start({"prog", "DEBUG"});  // a second run on the same day
  DebugLog("b", nullptr, 0, 0);
  EXPECT_EQ(DebugLogFileName(), temp_.File("20240131_2.log"));
  EXPECT_EQ(Content("20240131_1.log"), "older run");
  EXPECT_EQ(Content("20240131_0.log"), "14:03:07:123;a\r\n");
  EXPECT_EQ(Content("20240131_2.log"), "14:03:07:123;b\r\n");
}

TEST_F(DebugLogTest, ALinkIsNeverFollowedOrOverwritten) {
  const std::string outside = temp_.File("outside.txt");
  WriteBytes(outside, "keep");
  std::filesystem::create_symlink(outside, temp_.File("20240131_0.log"));
  std::filesystem::create_symlink(temp_.File("nowhere"), temp_.File("20240131_1.log"));
  Start({"prog", "DEBUG"});
  DebugLog("a", nullptr, 0, 0);
  EXPECT_EQ(DebugLogFileName(), temp_.File("20240131_2.log"));
  EXPECT_EQ(ReadBytes(outside), "keep");
  EXPECT_FALSE(std::filesystem::exists(temp_.File("nowhere")));
}

TEST_F(DebugLogTest, ANewDayStartsTheNextDaysFirstFreeFile) {
  WriteBytes(temp_.File("20240201_0.log"), "other");
  Start({"prog", "DEBUG"});
  DebugLog("first", nullptr, 0, 0);
  clock_ = EncodeDateTime({2024, 1, 31, 23, 59, 59, 999});
  DebugLog("second", nullptr, 0, 0);
  clock_ = EncodeDateTime({2024, 2, 1, 0, 0, 0, 5});
  DebugLog("third", nullptr, 0, 0);
  DebugLog("fourth", nullptr, 0, 0);
  EXPECT_EQ(Content("20240131_0.log"), "14:03:07:123;first\r\n23:59:59:999;second\r\n");
  EXPECT_EQ(Content("20240201_0.log"), "other");
  EXPECT_EQ(Content("20240201_1.log"), "00:00:00:005;third\r\n00:00:00:005;fourth\r\n");
  EXPECT_EQ(Files().size(), 3u);
}

TEST_F(DebugLogTest, LineFieldsOnTheMainThread) {
  Start({"prog", "DEBUG"});
  const TComponent window;
  const TPlainObject object;
  DebugLog("plain", nullptr, 0, 0);
  DebugLog("TestCI (result=1)", &window, 0, 11);
  DebugLog("obj", &object, 0, 0);
  DebugLog("code", nullptr, -7, 0);
  DebugLog("both", &object, 3, 2);
  clock_ = EncodeDateTime({2024, 1, 31, 9, 5, 0, 7});
  DebugLog("", nullptr, 0, 0);
  EXPECT_EQ(Content("20240131_0.log"),
            "14:03:07:123;plain\r\n"
            "14:03:07:123;TestCI (result=1);TfMain(fMain);11\r\n"
            "14:03:07:123;obj;TKVXList\r\n"
            "14:03:07:123;code;-7\r\n"
            "14:03:07:123;both;TKVXList;3;2\r\n"
            "09:05:00:007;\r\n");
}

TEST_F(DebugLogTest, AWorkerThreadAddsItsIdAndCreationTime) {
  Start({"prog", "DEBUG"});
  const TComponent window;
  pid_t workerId = 0;
  std::thread worker([&] {
    workerId = ::gettid();
    DebugLog("TestCI (result=0)", &window, 0, 12);
  });
  worker.join();
  const std::string content = Content("20240131_0.log");
  std::smatch match;
  const std::regex pattern(
      R"(14:03:07:123;TestCI \(result=0\);TfMain\(fMain\);12;(\d+);(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\r\n)");
  ASSERT_TRUE(std::regex_match(content, match, pattern)) << content;
  EXPECT_EQ(match[1].str(), std::to_string(workerId));
  // The creation time is in UTC and close to now (boot time has one-second resolution).
  tm created{};
  ASSERT_NE(strptime(match[2].str().c_str(), "%Y-%m-%d %H:%M:%S", &created), nullptr);
  const double age = std::difftime(std::time(nullptr), timegm(&created));
  EXPECT_GT(age, -5.0);
  EXPECT_LT(age, 3600.0);
}

TEST_F(DebugLogTest, NothingIsWrittenBeforeStartOrAfterShutdown) {
  SetProgramArgs({"prog", "DEBUG"});
  ShutdownDebugLog();
  DebugLog("too early", nullptr, 0, 0);
  EXPECT_TRUE(Files().empty());
  StartDebugLog();
  DebugLog("in", nullptr, 0, 0);
  ShutdownDebugLog();
  EXPECT_EQ(DebugLogFileName(), "");
  DebugLog("too late", nullptr, 0, 0);
  EXPECT_EQ(Files(), std::set<std::string>{"20240131_0.log"});
  EXPECT_EQ(Content("20240131_0.log"), "14:03:07:123;in\r\n");
}

TEST_F(DebugLogTest, AnUncreatableFileDropsTheLineAndIsRetried) {
  Start({"prog", "DEBUG"});
  SetDebugLogDirectory(temp_.File("missing"));
  // Neither place can take a file: the state folder would have to be made below a file.
  WriteBytes(temp_.File("plain"), "");
  ScopedEnv noState("XDG_STATE_HOME", temp_.File("plain/state"));
  EXPECT_NO_THROW(DebugLog("lost", nullptr, 0, 0));
  EXPECT_EQ(DebugLogFileName(), "");
  std::filesystem::create_directory(temp_.File("missing"));
  DebugLog("kept", nullptr, 0, 0);
  EXPECT_EQ(ReadBytes(temp_.File("missing/20240131_0.log")), "14:03:07:123;kept\r\n");
}

TEST_F(DebugLogTest, AFaultySenderDoesNotReachTheCaller) {
  Start({"prog", "DEBUG"});
  const TFaultySender sender;
  EXPECT_NO_THROW(DebugLog("x", &sender, 0, 0));
  DebugLog("after", nullptr, 0, 0);
  EXPECT_EQ(Content("20240131_0.log"), "14:03:07:123;after\r\n");
}

TEST_F(DebugLogTest, LinesFromManyThreadsNeverInterleave) {
  Start({"prog", "DEBUG"});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) DebugLog("thread " + std::to_string(t), nullptr, 0, i + 1);
    });
  for (std::thread& thread : threads) thread.join();
  const std::string content = Content("20240131_0.log");
  const std::regex line(R"(14:03:07:123;thread ([0-3]);(\d+);\d+;[0-9: -]+\r\n)");
  int lines = 0;
  for (auto it = std::sregex_iterator(content.begin(), content.end(), line);
       it != std::sregex_iterator(); ++it)
    ++lines;
  EXPECT_EQ(lines, 400);
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 400);
}

TEST_F(DebugLogTest, AProgramFolderThatTakesNoFileSendsTheTraceToThePrivateStateFolder) {
  Start({"prog", "DEBUG"});
  SetDebugLogDirectory(temp_.File("missing"));
  DebugLog("kept", nullptr, 0, 0);
  const std::string expected = temp_.File("state/kvxsetup/20240131_0.log");
  EXPECT_EQ(DebugLogFileName(), expected);
  EXPECT_EQ(ReadBytes(expected), "14:03:07:123;kept\r\n");
  EXPECT_EQ(std::filesystem::status(temp_.File("state/kvxsetup")).permissions(),
            std::filesystem::perms::owner_all);
}

TEST_F(DebugLogTest, TheProgramFolderComesFirstWhenItTakesTheFile) {
  Start({"prog", "DEBUG"});
  DebugLog("here", nullptr, 0, 0);
  EXPECT_EQ(DebugLogFileName(), temp_.File("20240131_0.log"));
  EXPECT_FALSE(std::filesystem::exists(temp_.File("state")));
}

TEST_F(DebugLogTest, EachNewFileIsAnnouncedOnce) {
  std::vector<std::string> announced;
  SetDebugLogOpenedHandler([&](const std::string& path) { announced.push_back(path); });
  Start({"prog", "DEBUG"});
  DebugLog("one", nullptr, 0, 0);
  DebugLog("two", nullptr, 0, 0);
  clock_ = clock_.load() + 1;
  DebugLog("next day", nullptr, 0, 0);
  SetDebugLogOpenedHandler({});
  EXPECT_EQ(announced,
            (std::vector<std::string>{temp_.File("20240131_0.log"), temp_.File("20240201_0.log")}));
}
