#pragma once
// Control side of the fake adapter driver library. Tests link the library and configure
// adapters here; the code under test reaches the same library through dlopen and the usual
// FT_* entry points, and sees the adapters as if they were plugged in.
#include <cstdint>

#include "sim/uSimPeer.h"

extern "C" {

// Forgets every adapter, open handle and injected failure.
void FakeFtdi_Reset();
// Adds the adapters named in $KVX_FAKE_FTDI, "SERIAL[:DESCRIPTION]=LINE;...": each relays
// its bytes to and from LINE (a tty, normally a simulator's pseudo-terminal). Done when the
// library is loaded; returns the number of adapters added. Bad entries are reported on
// standard error and skipped. Such an adapter counts as pulled out once its LINE is hung up.
int FakeFtdi_LoadEnvironment();
// Adds a plugged-in adapter at the end of the device list and returns its index there.
// Peer (may be null: bytes written are dropped, nothing is received) stays owned by the
// caller and must outlive the adapter (until FakeFtdi_Reset).
int FakeFtdi_AddAdapter(const char* serialNumber, const char* description, ISimPeer* peer);
// Pulls the adapter out: it leaves the device list, its open handle's calls fail with
// FT_IO_ERROR and opening it fails with FT_DEVICE_NOT_FOUND. Plug puts it back.
void FakeFtdi_Unplug(const char* serialNumber);
void FakeFtdi_Plug(const char* serialNumber);
// Every later call of the named entry point answers Status without doing anything;
// Status 0 lifts the failure.
void FakeFtdi_FailEntry(const char* entryName, std::uint32_t status);
// Number of calls of the named entry point since the last reset (also failed ones).
int FakeFtdi_CallCount(const char* entryName);
// The speed last set on the adapter (0 before the first FT_SetBaudRate).
std::uint32_t FakeFtdi_BaudRate(const char* serialNumber);
// Whether the adapter has an open handle.
bool FakeFtdi_IsOpen(const char* serialNumber);
// Lets FT_Read hand out at most Count bytes per call (0: no limit), as a driver may.
void FakeFtdi_SetReadChunk(const char* serialNumber, std::uint32_t count);
// Queues bytes as if the far end had sent them now, and signals the event.
void FakeFtdi_Receive(const char* serialNumber, const char* data, std::uint32_t length);
}
