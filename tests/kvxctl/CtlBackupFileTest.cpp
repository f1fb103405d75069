// Backup files: what each form of a real loads as, and what a bad file is refused for.
#include <gtest/gtest.h>

#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlRecordJson.h"

namespace {

std::string BackupWith(const std::string& Fields) {
  return R"({"model": "VIROD", "serial": 4711, "fields": {)" + Fields + "}}";
}

TEST(CtlBackupFile, EachRealLoadsAsItsSingleAndWritesBackToTheSameRecord) {
  struct TCase {
    const char* Field;
    std::optional<std::uint32_t> Bits;
    const char* Value;  // as show prints it; a zero as the pages show it
  };
  const TCase cases[] = {
      {R"("ch2.hyst": null)", 0xFFFFFFFF, "nan"},  // an erased real in an older backup
      {R"("ch2.hyst": {"value": null, "bits": "7FC01234"})", 0x7FC01234, "nan"},
      {R"("ch3.lower": -0.0)", 0x80000000, nullptr},
      {R"("ch3.lower": {"value": -0.0, "bits": "80000000"})", 0x80000000, nullptr},
      {R"("ch1.upper": 0.1)", 0x3DCCCCCD, "0.1"},
      {R"("ch1.max": 1200)", std::nullopt, "1200"},  // an older backup's range top
      {R"("ch1.min": 0, "ch1.max": {"value": 1200.0, "bits": "3DF5C28F"})", 0x3DF5C28F, "1200"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Field);
    const TBackup loaded = LoadBackup(BackupWith(test.Field));
    ASSERT_FALSE(loaded.Fields.empty());
    EXPECT_EQ(loaded.Fields.back().Bits, test.Bits);
    if (test.Value) {
      EXPECT_EQ(loaded.Fields.back().Value, test.Value);
    }
    EXPECT_EQ(LoadBackup(WriteBackup(loaded)), loaded) << WriteBackup(loaded);
  }
}

TEST(CtlBackupFile, ABadFileIsRefusedNamingWhatIsWrong) {
  const std::pair<std::string, const char*> cases[] = {
      {"[1]", "not a backup (model, serial and fields needed)"},
      {R"({"model": "VIROD", "serial": 70000, "fields": {}})",
       "serial: 70000 is not a number from 0 to 65535"},
      {BackupWith(R"("ch2.hyst": {"bits": "FFFFFFFF"})"),
       "ch2.hyst: {\"bits\":\"FFFFFFFF\"} is not"},
      {BackupWith(R"("ch2.hyst": {"value": null, "bits": "FFFFFFF"})"),
       "ch2.hyst: bits \"FFFFFFF\" are not 8 hexadecimal digits"},
      {BackupWith(R"("ch2.hyst": {"value": 1.5, "bits": "3FC00001"})"),
       "ch2.hyst: 1.5 is not the single of its bits \"3FC00001\""},
      {BackupWith(R"("ch3.lower": {"value": 0.0, "bits": "80000000"})"),
       "ch3.lower: 0.0 is not the single of its bits"},
      {BackupWith(R"("ch1.upper": {"value": null, "bits": "3F800000"})"),
       "ch1.upper: null is not the single of its bits"},
      {BackupWith(R"("ch1.min": 0, "ch1.max": {"value": 100.0, "bits": "7F7FFFFF"})"),
       "ch1.max: 100 is not the top its bits \"7F7FFFFF\" give (3.4028235e+42)"},
      {BackupWith(R"("ch1.min": 0, "ch1.max": {"value": 1300.0, "bits": "3DF5C28F"})"),
       "ch1.max: 1300 is not the top its bits \"3DF5C28F\" give (1200)"},
      {BackupWith(R"("ch1.max": {"value": 1200.0, "bits": "3DF5C28F"})"),
       "ch1.max: a top given by its bits needs ch1.min beside it"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      LoadBackup(text);
      ADD_FAILURE() << "loaded";
    } catch (const TCtlError& error) {
      EXPECT_EQ(error.Code(), ceUsage);
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
