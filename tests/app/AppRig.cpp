#include "tests/app/AppRig.h"

#include <cstdlib>

#include "support/uLogUtils.h"
#include "support/uProgramArgs.h"
#include "support/uStringUtils.h"
#include "tests/support/LogTestHooks.h"
#include "tests/usb/fake_ftd2xx/FakeFtdi.h"
#include "usb/uDeviceChange.h"

TAppRig::TAppRig(std::vector<std::string> Args) : FArgs(std::move(Args)) {
  FakeFtdi_Reset();
  UpdatePortMap();
  std::vector<std::string> programArgs = {"kvxsetup", "DEBUG"};
  programArgs.insert(programArgs.end(), FArgs.begin(), FArgs.end());
  SetProgramArgs(programArgs);
  SetDebugLogDirectory(FLogDir.Dir());
  StartDebugLog();
  // The speeds that answered stay with this rig: another rig's never order its checks.
  const char* state = std::getenv("XDG_STATE_HOME");
  FStateBefore = state ? std::optional<std::string>(state) : std::nullopt;
  setenv("XDG_STATE_HOME", FStateDir.File("state").c_str(), 1);
  FManager = std::make_unique<TFTDIManager>();
}

TAppRig::~TAppRig() {
  FForm.reset();
  FManager.reset();  // closes the channels before their far ends go
  FPtys.clear();
  FakeFtdi_Reset();
  ShutdownDebugLog();
  SetDebugLogDirectory("");
  SetProgramArgs({"kvxsetup"});
  unsetenv("KVX_COMPORTS");
  if (FStateBefore)
    setenv("XDG_STATE_HOME", FStateBefore->c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");
}

void TAppRig::UpdatePortMap() {
  // No COM port of this machine takes part.
  std::string map;
  for (int n = 1; n <= 96; ++n) map += Format("%d=/dev/kvx-no-such-node-%d;", n, n);
  for (const auto& [port, path] : FPorts) map += Format("%d=%s;", port, path.c_str());
  setenv("KVX_COMPORTS", map.c_str(), 1);
}

std::shared_ptr<TKvxSimModule> TAppRig::AddComModule(int Port, const TKvxSimState& State) {
  auto module = std::make_shared<TKvxSimModule>(State);
  AddComPeer(Port, module);
  return module;
}

void TAppRig::AddComPeer(int Port, std::shared_ptr<ISimPeer> Peer) {
  FPtys.push_back(std::make_unique<TSimPty>(std::move(Peer)));
  AddComEntry(Port, FPtys.back()->SlavePath());
}

void TAppRig::AddComEntry(int Port, const std::string& Path) {
  FPorts.emplace_back(Port, Path);
  UpdatePortMap();
}

std::string TAppRig::ComPath(int Port) const {
  for (const auto& [port, path] : FPorts)
    if (port == Port) return path;
  return {};
}

std::shared_ptr<TKvxSimModule> TAppRig::AddUsbModule(const std::string& Serial,
                                                     const std::string& Description,
                                                     const TKvxSimState& State) {
  auto module = std::make_shared<TKvxSimModule>(State);
  FUsbModules.push_back(module);
  FakeFtdi_AddAdapter(Serial.c_str(), Description.c_str(), module.get());
  return module;
}

void TAppRig::UnplugUsb(const std::string& Serial) {
  FakeFtdi_Unplug(Serial.c_str());
  TDeviceBroadcast record;
  record.DeviceType = DBT_DEVTYP_DEVICEINTERFACE;
  record.ClassGuid = GUID_D2XX_DEVICE_CLASS;
  record.Name =
      "\\\\?\\USB#VID_0403&PID_6001#" + Serial + "#" + GUIDToString(GUID_D2XX_DEVICE_CLASS);
  FManager->DeviceChange(DBT_DEVICEREMOVECOMPLETE, record);
}

TfMain& TAppRig::Form() {
  if (!FForm) {
    FForm = std::make_unique<TfMain>(*FManager, Services, FArgs);
    FForm->FormShow();
  }
  return *FForm;
}

std::vector<TTraceLine> TAppRig::Trace() const {
  std::vector<TTraceLine> lines;
  const std::string content = ReadBytes(DebugLogFileName());
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    start = end + 2;
    // time;text;sender[;point]
    const std::size_t sender = line.find(";TfMain(fMain)");
    if (sender == std::string::npos) continue;
    TTraceLine entry;
    entry.Text = line.substr(13, sender - 13);
    // hh:nn:ss:zzz
    entry.At = std::chrono::milliseconds(
        ((std::stoi(line.substr(0, 2)) * 60 + std::stoi(line.substr(3, 2))) * 60 +
         std::stoi(line.substr(6, 2))) *
            1000 +
        std::stoi(line.substr(9, 3)));
    const std::size_t point = line.find(';', sender + 1);
    if (point != std::string::npos) entry.Point = std::stoi(line.substr(point + 1));
    lines.push_back(entry);
  }
  return lines;
}

std::vector<TTraceLine> TAppRig::TraceOfTest(const std::string& Description) const {
  std::vector<TTraceLine> result;
  bool inside = false;
  for (const TTraceLine& line : Trace()) {
    if (line.Point == 10) inside = line.Text == "TestCI " + Description;
    if (inside) result.push_back(line);
  }
  return result;
}

std::string TAppRig::PageShown() {
  std::string shown;
  for (const char* page :
       {"pSearch", "pSearching", "pError", "pMeasure", "pConnection", "pChannel"})
    if (Form().Element(page).GetBool("Visible"))
      shown += shown.empty() ? page : std::string("+") + page;
  return shown;
}
