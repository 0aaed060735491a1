#include "DeviceFixture.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#endif

bool RunningUnderWine() {
#if defined(_WIN32)
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void DeviceTest::StartDevice(std::vector<std::string> simArgs, bool baudDelay) {
    // The handshake allows the device 100 ms, which a loaded machine (Wine beside a build) can miss. These
    // tests are about what follows it, so a missed one is tried again on a new simulator, whose line holds no
    // late reply to the first.
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        sim = std::make_unique<Simulator>(simArgs, baudDelay);
        if (handle.Connect(sim->ptyPath()))
            break;
        ASSERT_LT(attempt, kAttempts) << "the simulator did not answer the handshake " << kAttempts << " times";
        std::fprintf(stderr, "The handshake was missed; connecting again to a new simulator.\n");
    }
    ASSERT_TRUE(sim->waitForRequests(1, 2000));
    requestsAtConnect = sim->requests().size();
}

std::vector<std::string> DeviceTest::RequestsAfterConnect() const {
    const auto all = sim->requests();
    return {all.begin() + static_cast<std::ptrdiff_t>(requestsAtConnect), all.end()};
}

void DeviceTest::WaitForRequestsAfterConnect(std::size_t count) const {
    ASSERT_TRUE(sim->waitForRequests(requestsAtConnect + count, 2000));
}

long long WineWaitMs() {
    return RunningUnderWine() ? 400 : 0;
}
