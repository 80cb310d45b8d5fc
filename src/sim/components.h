// The simulated components a profile can install, behind the handheld's hardware interfaces.
#pragma once

#include <memory>
#include <string>

#include "platform/device.h"

class SimulatedHandheld;

// The stream driver of that name when the profile installs it, else null.
std::unique_ptr<StreamDriver> openSimulatedDriver(SimulatedHandheld& device,
                                                  const std::u16string& name, DWORD access,
                                                  DWORD share);
// OEM hardware-layer control codes other than the processor query.
BOOL simulatedKernelIoControl(SimulatedHandheld& device, DWORD code, const void* input,
                              DWORD inputSize, void* output, DWORD outputSize, DWORD* returned);
// The microphone when the profile has wave input, else null.
std::unique_ptr<WaveSource> openSimulatedMicrophone(SimulatedHandheld& device);
// Called after mounting and before unmounting, for components with hardware state (the LCD
// controller's registers).
void startSimulatedHardware(SimulatedHandheld& device);
void stopSimulatedHardware(SimulatedHandheld& device);
