// What kvxctl tells the operator about a module's replies.
#include <gtest/gtest.h>

#include <string>

#include "tests/kvxctl/CtlProcess.h"

namespace {

TEST(KvxctlMessages, UnknownParameterCodesGiveOneLinePerStream) {
  // One unknown code after each channel item of both streams, each stream read twice.
  TSimProcess sim(KVX_SIM_PROGRAM, {"-m", "rs", "-f", "unknown-codes"});
  const TRunResult show = RunKvxctl({"show", "COM100"}, sim.Env());
  EXPECT_EQ(show.Code, 0) << show.Err;
  EXPECT_EQ(show.Err,
            "kvxctl: A Unknown param #5 (05), #5 (05), #5 (05) and 1 more\n"
            "kvxctl: B Unknown param #5 (05), #5 (05), #5 (05) and 1 more\n");
}

TEST(KvxctlMessages, AnAddressAnotherModuleAnswersAtIsOneEnglishLineAndARefusedValue) {
  TSimProcess sim(KVX_SIM_PROGRAM, kLineOfThree);
  const TRunResult set = RunKvxctl({"set", "COM5@7", "address=12"}, sim.Env());
  EXPECT_EQ(set.Code, 2);
  EXPECT_EQ(set.Err,
            "kvxctl: address: another module answers at 12 on COM5; nothing was written\n");
  EXPECT_EQ(RunKvxctl({"show", "COM5@7"}, sim.Env()).Code, 0) << "the module kept its address";
}

}  // namespace
