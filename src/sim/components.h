// The simulated components a profile can install, behind the handheld's hardware interfaces.
#pragma once

#include <memory>
#include <string>
#include <vector>

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
// controller's registers, the camera settings, the host's camera and microphone). Fails with one
// line in `error` when a host device the profile names cannot be opened.
bool startSimulatedHardware(SimulatedHandheld& device, std::string& error);
void stopSimulatedHardware(SimulatedHandheld& device);

// Commands that change the simulated hardware while the program runs (a device script's
// "device ..." lines, tests):
//   overlay1 FORMAT WxH at X Y | overlay1 off      overlay 1 of the PXA27x LCD controller
//   overlay2 FORMAT WxH at X Y | overlay2 off      overlay 2 (also the YCbCr formats)
//   camera fps N                                   frames per second of every camera (1 to 60)
//   camera frames on|off                           off: no frame is ever finished
//   camera init accept|refuse                      refuse: the camera fails to initialise
//   full-card BYTES | full-card off                files opened for writing from now on may take
//                                                  BYTES more bytes, then writes fail (a full card)
// Returns an error text or "".
std::string simulatedCommand(SimulatedHandheld& device, const std::vector<std::string>& words);
// Checks a command's words without a device (when a script is read).
std::string checkSimulatedCommand(const std::vector<std::string>& words);

// The configuration file the OEM camera library reads, next to the installed library.
constexpr const char* kCameraLibraryConfigName = "HTCcamera.cfg";
