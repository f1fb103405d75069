// Random edits of everything the configuration pages can change, uploaded and read back:
// each edit arrives, and nothing else in the module moves.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "protocol/uKVXxxCommands.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"
#include "support/uConversionUtils.h"
#include "support/uStringUtils.h"

namespace {

class Editor {
 public:
  explicit Editor(unsigned seed) : rng_(seed) {}

  // Edits as the pages store them: trimmed names and units padded to their widths, the
  // range through RangeToScale, only the watching bit of the flags.
  void Edit(TKVXrec& e) {
    if (Coin()) e.Ident.UserData = Text(16, true);
    for (int ch = 1; ch <= kChannelCount; ++ch) {
      TChannelSetup& s = e.Setup[ch];
      if (Coin()) s.Name = PadRight(Trim(Text(20, false)), kNameWidth);
      if (Coin()) s.Unit = PadRight(Trim(Text(5, false)), kUnitWidth);
      if (Coin()) s.Decimals = static_cast<std::uint8_t>(Below(3));
      if (Coin()) {
        const double bottom = Real(100000);
        RangeToScale(bottom, bottom + 0.5 + Below(200000) / 10.0, 10000, s.Offset, s.Scale);
      }
      if (s.Loop != 0 && Coin()) s.Loop = static_cast<std::uint8_t>(1 + Below(2));
      if (s.GainPresent && Coin()) s.GainIndex = static_cast<std::uint8_t>(Below(8));
      TChannelWatch& w = e.Watch[ch];
      if (Coin()) w.Flags ^= kWatchOnFlag;
      if (Coin()) w.UpperLimit = static_cast<float>(Real(10000));
      if (Coin()) w.LowerLimit = static_cast<float>(Real(10000));
      if (Coin()) w.Hysteresis = static_cast<float>(Real(10000));
    }
  }

 private:
  bool Coin() { return Below(2) == 0; }
  unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }
  double Real(int limit) { return (static_cast<int>(Below(2 * limit * 4 + 1)) - limit * 4) / 4.0; }
  // Letters (some of them Czech, Windows-1250), digits, blanks; blanks around it if asked.
  std::string Text(unsigned maxLength, bool blanksAround) {
    static const std::string alphabet = "abcXYZ019 .-/%\xE8\xF8\xBE\xC8\xDD";
    std::string text;
    const unsigned length = Below(maxLength + 1);
    for (unsigned i = 0; i < length; ++i) text += alphabet[Below(alphabet.size())];
    return blanksAround && Coin() ? " " + text + " " : text;
  }

  std::mt19937 rng_;
};

// The module as the edited copy says it should now be.
TKvxSimState Expected(TKvxSimState state, const TKVXrec& e) {
  state.UserData = PadRight(Trim(e.Ident.UserData), kUserDataWidth);
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    state.Channels[ch].Setup = e.Setup[ch];
    state.Channels[ch].Watch = e.Watch[ch];
  }
  return state;
}

TEST(RoundTrip, RandomEditsArriveAndNothingElseMoves) {
  const TKVXModuleType models[] = {mtUSB, mtETH, mtRS, mtNOVRA};
  for (unsigned run = 0; run < 8; ++run) {
    const unsigned seed = 20261209 + run;
    SCOPED_TRACE("seed " + std::to_string(seed));
    TKvxSimState original = KvxSimFactoryState(models[run % 4], static_cast<std::uint16_t>(run));
    original.SpeedCode = 10;
    auto sim = std::make_shared<TKvxSimModule>(original);
    TKVXChannel channel = Create<TInProcessChannel>("SIM1", sim, "baudrate=115200");
    ASSERT_TRUE(channel->Open());
    TKVXChannelTransactor transactor(channel);

    TKVXrec read;
    ASSERT_TRUE(KvxDownloadParams(read, transactor.Method()));
    TKVXrec edited = read;
    Editor(seed).Edit(edited);
    ASSERT_NE(edited, read);
    UploadChanges(channel, read, edited);
    TKVXrec after;
    ASSERT_TRUE(KvxDownloadParams(after, transactor.Method()));

    TKVXrec expectedRec = edited;
    expectedRec.Ident.UserData = Trim(edited.Ident.UserData);
    EXPECT_EQ(after, expectedRec);
    const TKvxSimState expected = Expected(original, edited);
    EXPECT_EQ(SimConfigImage(sim->State()), SimConfigImage(expected));
    EXPECT_EQ(sim->State(), expected);
  }
}

}  // namespace
