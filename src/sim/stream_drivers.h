// The simulated OEM stream drivers "LCM1:" and "DSC1:".
#pragma once

#include <memory>

#include "platform/device.h"
#include "sim/component_state.h"

// Access bits of an open (the platform's GENERIC_READ and GENERIC_WRITE).
constexpr DWORD kAccessRead = 0x80000000;
constexpr DWORD kAccessWrite = 0x40000000;

// "LCM1:": opened for reading without sharing, one open at a time; null when it refuses.
std::unique_ptr<StreamDriver> openLcm1Driver(std::shared_ptr<SimulatedComponents> components,
                                             DWORD access, DWORD share);
// "DSC1:": opened for reading and writing, shareable; null when it refuses.
std::unique_ptr<StreamDriver> openDsc1Driver(std::shared_ptr<SimulatedComponents> components,
                                             DWORD access, DWORD share);

// "LCM1:" control codes (device type 0x9000, functions 0x801 to 0x80A, buffered, any access).
constexpr DWORD kLcm1Initialise = 0x90002004;
constexpr DWORD kLcm1Shutdown = 0x90002008;
constexpr DWORD kLcm1Start = 0x9000200C;
constexpr DWORD kLcm1Stop = 0x90002010;
constexpr DWORD kLcm1SetProperty = 0x90002014;
constexpr DWORD kLcm1GetProperty = 0x90002018;
constexpr DWORD kLcm1NextFrame = 0x9000201C;
constexpr DWORD kLcm1Register = 0x90002020;
constexpr DWORD kLcm1FlashLight = 0x90002024;
constexpr DWORD kLcm1ReleaseFrame = 0x90002028;

// "DSC1:" control codes.
constexpr DWORD kDsc1GetProperty = 1;
constexpr DWORD kDsc1SetParameter = 2;
constexpr DWORD kDsc1ReadFrame = 3;
constexpr DWORD kDsc1StartSensor = 5;
constexpr DWORD kDsc1StopSensor = 6;
