#include "serial/uSerialServerUrl.h"

#include <gtest/gtest.h>

#include "support/uErrors.h"

namespace {

TEST(SerialServerUrl, BothSchemesWithNamesAndAddressesAreRead) {
  const TSerialServerUrl named = ParseSerialServerUrl("rfc2217://gw-hall3:4001");
  EXPECT_EQ(named.Protocol, TServerProtocol::Rfc2217);
  EXPECT_EQ(named.Host, "gw-hall3");
  EXPECT_EQ(named.Port, "4001");
  const TSerialServerUrl raw = ParseSerialServerUrl("TCP://10.0.0.7:23/");
  EXPECT_EQ(raw.Protocol, TServerProtocol::RawTcp);
  EXPECT_EQ(raw.Host, "10.0.0.7");
  EXPECT_EQ(raw.Port, "23");
  const TSerialServerUrl v6 = ParseSerialServerUrl("rfc2217://[fe80::1]:4001");
  EXPECT_EQ(v6.Host, "fe80::1");
  EXPECT_EQ(v6.Port, "4001");
}

TEST(SerialServerUrl, IncompleteUrlsAreRefusedNamingTheText) {
  for (const char* bad :
       {"rfc2217://gw", "tcp://:4001", "tcp://gw:0", "tcp://gw:70000", "tcp://gw:40x1",
        "rfc2217://[::1:4001", "telnet://gw:23", "tcp://a:b:c", "tcp://fe80::1:4001", "tcp://[[]:5",
        "rfc2217://gw]:1", "rfc2217://gw/x:1", "tcp://g w:1"}) {
    SCOPED_TRACE(bad);
    try {
      ParseSerialServerUrl(bad);
      ADD_FAILURE() << "taken";
    } catch (const Exception& error) {
      EXPECT_NE(std::string(error.what()).find(bad), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(IsSerialServerUrl("Rfc2217://gw:1"));
  EXPECT_FALSE(IsSerialServerUrl("/dev/ttyUSB0"));
}

}  // namespace
