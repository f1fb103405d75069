// Modules on one line answering at once garble it, and a request to one address takes no reply
// from another.
#include <gtest/gtest.h>

#include "protocol/uKVXxxCommands.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxSimLineRig.h"
#include "sim/uScriptedPeer.h"

namespace {

using namespace std::chrono_literals;

TKVXChannel OpenChannel(std::shared_ptr<ISimPeer> Peer) {
  TKVXChannel channel = Create<TInProcessChannel>("SIM1", std::move(Peer), "baudrate=9600");
  EXPECT_TRUE(channel->Open());
  return channel;
}

TEST(KvxSimLine, TheUniversalAddressMakesAllAnswerAtOnceAndTheLineCarriesAGarbledFrame) {
  const auto line = MakeSimLineOfThree();
  const auto now = ISimPeer::Clock::now();
  line->Write(BuildFrame(kUniversalAddress, kRequestSignature, kiReadType, {}), 9600, now);
  const std::string heard = line->Read(now + 1s);
  ASSERT_GE(heard.size(), 2u);
  EXPECT_EQ(heard.substr(0, 2), "*a");
  EXPECT_NE(ValidateFrame(heard), 0);
}

TEST(KvxSimLine, ARequestToOneAddressTakesNoReplyFromAnother) {
  const auto peer = std::make_shared<TScriptedPeer>();
  const TKVXChannel channel = OpenChannel(peer);
  struct TCase {
    std::uint8_t Asked;
    bool Taken;
  };
  const TCase cases[] = {{12, false}, {7, true}, {kUniversalAddress, true}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(int(test.Asked));
    peer->AddReply({{5ms, BuildFrame(7, kRequestSignature, kSimAck, "KVX VIROD")}});
    std::string reply;
    EXPECT_EQ(Transact(channel, kiReadType, {}, test.Asked, kCheckTimeout, reply), test.Taken);
    EXPECT_EQ(reply, test.Taken ? "KVX VIROD" : "");
  }
}

}  // namespace
