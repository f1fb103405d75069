#pragma once
// A channel whose far end is a simulated peer in the same process: no device, no thread.
// Written bytes go straight to the peer with the channel's speed; reads take what the peer
// has made due by now. Settings: "baudrate=N" (0: the peer's own speed, and CharTime 0).
//
//   auto channel = Create<TInProcessChannel>("SIM1", peer, "baudrate=9600");
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "comm/uci_ICommunicationInterface.h"
#include "sim/uSimPeer.h"

class TInProcessChannel : public TCommunicationInterface {
 public:
  TInProcessChannel(std::string PortName, std::shared_ptr<ISimPeer> Peer,
                    std::string ConnectionString = {});
  // Bound to an XML element (name, enabled, GUID, connectionstring) and placed below Parent.
  TInProcessChannel(std::string PortName, std::shared_ptr<ISimPeer> Peer, const TXMLNode& Element,
                    TIntfPtr<IInterface> Parent);
  ~TInProcessChannel() override;

  bool GetActive() override;
  bool Open() override;
  bool Close(bool Force) override;
  std::int32_t Write(const std::string& Data) override;
  void Read(std::string& Data) override;
  std::int32_t InputCount() override;
  std::string GetPortName() override;
  void PurgeInput() override;
  void PurgeOutput() override;
  std::string GetConnectionString() override;
  // Applies the keys it knows ("baudrate", any case); other keys are ignored. A speed that
  // is not a whole number from 0 to 10000000 raises Exception and changes nothing.
  void SetConnectionString(const std::string& Text) override;

  std::uint32_t GetBaudRate();
  void SetBaudRate(std::uint32_t Value);  // raises settings-changed

 private:
  void ApplyBaudRate(std::uint32_t Value);

  const std::string FPortName;
  const std::shared_ptr<ISimPeer> FPeer;
  std::mutex FPeerLock;  // the peer is not thread-safe; InputCount takes no channel lock
  std::atomic<bool> FActive{false};
  std::atomic<std::uint32_t> FBaudRate{0};
};
