// A simulator on its own pseudo-terminal, private XDG folders, and a handle connected to it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

class DeviceTest : public ::testing::Test {
protected:
    // Starts the simulator with these options and connects the handle to it.
    void StartDevice(std::vector<std::string> simArgs = {}, bool baudDelay = false);

    // Requests the simulator has received since StartDevice finished connecting.
    std::vector<std::string> RequestsAfterConnect() const;
    // Waits until the simulator has logged count requests after connecting.
    void WaitForRequestsAfterConnect(std::size_t count) const;

    TempXdg xdg;
    std::unique_ptr<Simulator> sim;
    KORVAN::Optivane handle;
    std::size_t requestsAtConnect = 0;
};

// Whether this Windows test program runs under Wine, whose behaviour differs from Windows in a few
// documented points; false on every other platform.
bool RunningUnderWine();

// What Wine adds to a wait for a reply, on top of a test's own slack: its server takes part in every wait
// and in the cancel of a pending read. 0 elsewhere.
long long WineWaitMs();

// Milliseconds that a callable takes.
template <typename F> long long ElapsedMs(F &&f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
