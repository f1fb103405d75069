#pragma once
// A bench port: modules brought to it one after another, as an operator plugs them in and
// takes them off, and at the end all of them together on one line. It starts empty; each
// Next() takes the module on it off, or plugs in the next one.
#include <memory>
#include <mutex>
#include <vector>

#include "sim/uKvxSimLine.h"

class TKvxSimBench : public ISimPeer {
 public:
  explicit TKvxSimBench(std::vector<std::shared_ptr<TKvxSimModule>> Modules);

  // Empty -> first module -> empty -> second module -> ... -> empty -> all on one line.
  void Next();

  void Write(std::string_view bytes, std::uint32_t baud, Clock::time_point now) override;
  std::string Read(Clock::time_point now) override;
  std::size_t Available(Clock::time_point now) const override;
  std::optional<Clock::time_point> NextDue() const override;

 private:
  std::shared_ptr<ISimPeer> Plugged() const;

  mutable std::mutex FLock;
  std::vector<std::shared_ptr<TKvxSimModule>> FModules;
  std::size_t FStep = 0;
  std::shared_ptr<ISimPeer> FPlugged;  // none while the port is empty
};
