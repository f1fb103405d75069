// The CSV of measured values: what a spreadsheet or a CSV reader gets back from a recording.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <thread>

#include "app/uMeasurementCsv.h"
#include "support/uStringUtils.h"
#include "tests/support/TempDir.h"

namespace {

// A minimal CSV reader: fields separated by commas, quoted fields with doubled quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& Text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    std::string& field = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < Text.size() && Text[i + 1] == '"')
        field += '"', ++i;
      else if (c == '"')
        quoted = false;
      else
        field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\n') {
      rows.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

// Local time in a fixed zone one hour east of UTC, for the length of a test.
class TZoneCet {
 public:
  TZoneCet() {
    if (const char* tz = std::getenv("TZ")) FOld = tz;
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
  }
  ~TZoneCet() {
    if (FOld.empty())
      ::unsetenv("TZ");
    else
      ::setenv("TZ", FOld.c_str(), 1);
    ::tzset();
  }

 private:
  std::string FOld;
};

const TTrendChannels kChannels = {
    {{"Teplota pece", "°C"}, {"Tlak, vstup", "bar"}, {"Průtok \"A\"", ""}, {"", "mA"}}};

// Each value with the text a module would send for it, to three decimals.
TTrendReading Reading(std::int64_t TimeMs, float A, float B, float C, float D) {
  TTrendReading reading;
  reading.TimeMs = TimeMs;
  const float values[] = {A, B, C, D};
  for (int n = 0; n < kTrendChannels; ++n)
    reading.Values[n] = {TReadingState::Valid, values[n], Format("%.3f", values[n])};
  return reading;
}

TEST(MeasurementCsv, HeaderNamesTheTimeAndEachChannelWithItsUnit) {
  const auto header = ParseCsv(CsvHeader(kChannels));
  ASSERT_EQ(header.size(), 1u);
  EXPECT_EQ(header[0], (std::vector<std::string>{"time", "Teplota pece [°C]", "Tlak, vstup [bar]",
                                                 "Průtok \"A\"", "ch4 [mA]"}));
}

TEST(MeasurementCsv, TimeIsIso8601LocalWithMillisecondsAndOffset) {
  const TZoneCet zone;
  EXPECT_EQ(IsoLocalTime(1'234), "1970-01-01T01:00:01.234+01:00");
  EXPECT_EQ(CsvLine(Reading(86'400'000 + 5, 0, 0, 0, 0)).substr(0, 29),
            "1970-01-02T01:00:00.005+01:00");
}

TEST(MeasurementCsv, ValuesAreTheModulesTextsGapsAreOvrAndEmpty) {
  TTrendReading reading = Reading(0, 21.46f, -3.0f, 7.6f, 0);
  reading.Values[2].Text = "7,6";
  reading.Values[1].State = TReadingState::Overflow;
  reading.Values[3].State = TReadingState::Missing;
  const auto row = ParseCsv(CsvLine(reading));
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0], (std::vector<std::string>{row[0][0], "21.460", "OVR", "7,6", ""}));
}

TEST(MeasurementCsv, ARecordingReadsBackAsOneLineOfTheSameValuesPerReading) {
  TTempDir dir;
  const std::string file = dir.File("pec.csv");
  {
    TCsvRecording recording(file, kChannels);
    for (int i = 0; i < 20; ++i)
      recording.Write(Reading(1'800'000'000'000 + i * 1000, 20.0f + i * 0.1f, 1.25f * i, 3.0f * i,
                              -0.001f * i));
  }
  const auto rows = ParseCsv(ReadBytes(file));
  ASSERT_EQ(rows.size(), 21u);
  EXPECT_EQ(rows[0][1], "Teplota pece [°C]");
  for (int i = 0; i < 20; ++i) {
    const auto& row = rows[i + 1];
    ASSERT_EQ(row.size(), 5u);
    EXPECT_NEAR(std::stod(row[1]), 20.0 + i * 0.1, 0.05);
    EXPECT_NEAR(std::stod(row[2]), 1.25 * i, 0.005);
    EXPECT_EQ(std::stod(row[3]), 3.0 * i);
    EXPECT_NEAR(std::stod(row[4]), -0.001 * i, 0.0005);
  }
  EXPECT_NE(rows[1][0], rows[2][0]);
}

TEST(MeasurementCsv, ARecordingKilledMidwayKeepsEveryCompleteLine) {
  TTempDir dir;
  const std::string file = dir.File("killed.csv");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TCsvRecording recording(file, kChannels);
    for (int i = 0;; ++i) {
      recording.Write(Reading(1'800'000'000'000 + i, 1.0f * i, 2.0f, 3.0f, 4.0f));
      ::usleep(200);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ParseCsv(ReadBytes(file)).size() < 200 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);

  const std::string text = ReadBytes(file);
  ASSERT_FALSE(text.empty());
  const std::string complete = text.substr(0, text.rfind('\n') + 1);
  const auto rows = ParseCsv(complete);
  ASSERT_GE(rows.size(), 200u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 5u) << "line " << i;
    EXPECT_EQ(std::stod(rows[i][1]), static_cast<double>(i - 1)) << "line " << i;
    EXPECT_EQ(rows[i][4], "4.000");
  }
}

TEST(MeasurementCsv, AFileThatCannotBeWrittenIsNamedInTheError) {
  try {
    TCsvRecording recording("/nonexistent-dir/rec.csv", kChannels);
    FAIL() << "no error";
  } catch (const std::exception& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent-dir/rec.csv"), std::string::npos);
  }
}

}  // namespace
