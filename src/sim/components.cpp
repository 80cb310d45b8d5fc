// The table of simulated components. Drivers, the microphone and the LCD controller are added
// here as they are built.
#include "sim/components.h"

#include <cstdio>

#include "sim/handheld.h"

std::unique_ptr<StreamDriver> openSimulatedDriver(SimulatedHandheld&, const std::u16string&,
                                                  DWORD, DWORD) {
    return nullptr;
}

BOOL simulatedKernelIoControl(SimulatedHandheld& device, DWORD code, const void*, DWORD, void*,
                              DWORD, DWORD*) {
    char text[32];
    snprintf(text, sizeof text, "HAL 0x%08X", code);
    device.record(text);
    return TRUE;
}

std::unique_ptr<WaveSource> openSimulatedMicrophone(SimulatedHandheld&) { return nullptr; }

void startSimulatedHardware(SimulatedHandheld&) {}
void stopSimulatedHardware(SimulatedHandheld&) {}
