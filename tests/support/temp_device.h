// A simulated handheld on a fresh temporary device root, installed for the length of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/device.h"
#include "sim/device_profile.h"
#include "sim/handheld.h"

class TempDevice {
  public:
    explicit TempDevice(const std::string& profileName = defaultProfileName())
        : TempDevice(*findBuiltinProfile(profileName)) {}

    explicit TempDevice(const DeviceProfile& profile) {
        char pattern[] = "/tmp/lumo-device-XXXXXX";
        root_ = mkdtemp(pattern);
        handheld_ = std::make_unique<SimulatedHandheld>(profile, root_);
        std::string error;
        if (!handheld_->mount(error)) std::abort();
        installDevice(handheld_.get());
    }

    ~TempDevice() {
        installDevice(nullptr);
        handheld_.reset();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    SimulatedHandheld& handheld() { return *handheld_; }
    const std::string& root() const { return handheld_->root(); }

  private:
    std::string root_;
    std::unique_ptr<SimulatedHandheld> handheld_;
};
