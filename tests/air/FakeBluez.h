#pragma once

// A fake BlueZ for tests: a dbus-daemon of its own standing in for the system bus, and
// python3-dbusmock with our template playing bluetoothd on it. Programs started after the
// bus see it as their system bus (DBUS_SYSTEM_BUS_ADDRESS); nothing reaches the real one.

#include <nlohmann/json.hpp>

#include <string>
#include <sys/types.h>
#include <vector>

namespace qz::test {

// The private bus, alive as long as the object.
class FakeSystemBus {
public:
    // folder: where its configuration and socket go.
    explicit FakeSystemBus(const std::string& folder);
    ~FakeSystemBus();
    FakeSystemBus(const FakeSystemBus&) = delete;
    FakeSystemBus& operator=(const FakeSystemBus&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& address() const { return address_; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    std::string socketFolder_;
    std::string address_;
    pid_t pid_ = -1;
};

// bluetoothd as the scenario says: its adapters, the devices it knows already and the
// advertisements it sends once discovery starts (see tests/air/fakebluez.py).
class FakeBluez {
public:
    FakeBluez(const FakeSystemBus& bus, nlohmann::json scenario);
    ~FakeBluez();
    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The adapter methods called so far, one line each: "StartDiscovery hci0".
    std::vector<std::string> calls() const;

private:
    std::string log_;
    pid_t pid_ = -1;
};

// A scenario with one powered adapter hci0 and these advertisements.
nlohmann::json OneAdapter(nlohmann::json adverts = nlohmann::json::array());

// An iBeacon's manufacturer data for Apple's company: 02 15, the UUID, major, minor, power.
nlohmann::json BeaconData(const std::string& uuidDigits, const std::string& majorDigits,
                          const std::string& minorDigits, const std::string& powerDigits = "C5");

} // namespace qz::test
