#include "tests/kvxctl/CtlModuleRig.h"

#include <cstdlib>
#include <sstream>

#include "sim/uKvxSimDevice.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlCommands.h"
#include "tools/kvxctl/uCtlErrors.h"

namespace {

constexpr int kFirstPort = 100;
constexpr std::uint8_t kFast = 10;  // 115200 bit/s

}  // namespace

TCtlModuleRig::TCtlModuleRig(const std::vector<TKvxSimState>& States) {
  // No COM port of this machine takes part.
  std::string map;
  for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
  for (TKvxSimState state : States) {
    state.SpeedCode = kFast;
    FModules.push_back(std::make_shared<TKvxSimModule>(state));
    FPtys.push_back(std::make_unique<TSimPty>(FModules.back()));
    map += Format("%d=%s;", kFirstPort + static_cast<int>(FPtys.size()) - 1,
                  FPtys.back()->SlavePath().c_str());
  }
  setenv("KVX_COMPORTS", map.c_str(), 1);
}

TCtlModuleRig::~TCtlModuleRig() {
  unsetenv("KVX_COMPORTS");
}

TRunResult TCtlModuleRig::Run(const std::vector<std::string>& Args) {
  std::ostringstream out, err;
  TRunResult result;
  try {
    result.Code = RunCtlCommand(ParseCtlOptions(Args), out, err);
  } catch (const TCtlError& error) {
    err << "kvxctl: " << error.what() << "\n";
    result.Code = error.Code();
  }
  result.Out = out.str();
  result.Err = err.str();
  return result;
}

std::string TCtlModuleRig::TakeWrites(int Index) {
  std::string writes;
  for (const TKvxSimRequest& request : FModules[Index]->Requests())
    if (IsSimWrite(request.Instruction)) writes += request.Data;
  FModules[Index]->ClearRequests();
  return writes;
}
