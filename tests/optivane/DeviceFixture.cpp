#include "DeviceFixture.h"

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
    sim = std::make_unique<Simulator>(std::move(simArgs), baudDelay);
    ASSERT_TRUE(handle.Connect(sim->ptyPath()));
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
