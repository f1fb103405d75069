// Modules on one line: each answers its own address, all at once garble the line, and a
// request to one address takes no reply from another.
#include <gtest/gtest.h>

#include "protocol/uKVXxxCommands.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxSimLineRig.h"
#include "sim/uKvxTransactor.h"
#include "sim/uScriptedPeer.h"

namespace {

using namespace std::chrono_literals;

TKVXChannel OpenChannel(std::shared_ptr<ISimPeer> Peer) {
  TKVXChannel channel = Create<TInProcessChannel>("SIM1", std::move(Peer), "baudrate=9600");
  EXPECT_TRUE(channel->Open());
  return channel;
}

TEST(KvxSimLine, EachAddressIsAnsweredByItsOwnModuleAndNoOtherIsTouched) {
  const auto line = MakeSimLineOfThree();
  const TKVXChannel channel = OpenChannel(line);
  struct TCase {
    std::uint8_t Address;
    bool Answers;
  };
  const TCase cases[] = {
      {7, true}, {12, true}, {200, true}, {5, false}, {kUniversalAddress, false}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(int(test.Address));
    for (const auto& module : line->Modules()) module->ClearRequests();
    EXPECT_EQ(CheckDevice(channel, test.Address), test.Answers);
    if (!test.Answers) continue;
    TKVXChannelTransactor transactor(channel);
    TKVXrec rec;
    ASSERT_TRUE(KvxDownloadParams(rec, transactor.Method(), test.Address));
    EXPECT_EQ(rec.Ident.Production.SerialNumber, SimLineSerial(test.Address));
    EXPECT_EQ(rec.Ident.Address, test.Address);
    // Every module hears the line; every frame on it went to the one address.
    for (const TKvxSimRequest& request : line->Modules().front()->Requests())
      EXPECT_EQ(request.Address, test.Address);
  }
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
