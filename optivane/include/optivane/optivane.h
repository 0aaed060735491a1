// Public interface of the optivane library: one handle per motorised attenuator on a serial port.
// Every device operation returns an AttenuatorStatus; its trailing int is the time limit in
// milliseconds for the device's reply to each request (never a retry count).
#pragma once

#include <memory>
#include <string>

#if defined(_WIN32)
#if defined(OPTIVANE_BUILDING_LIBRARY)
#define OPTIVANE_EXPORT __declspec(dllexport)
#else
#define OPTIVANE_EXPORT __declspec(dllimport)
#endif
#else
#define OPTIVANE_EXPORT __attribute__((visibility("default")))
#endif

namespace KORVAN {

// Negative values come from the library; zero and positive values are the device's status byte,
// passed through unchanged (values 14 to 255 have no name and are returned as they are).
enum AttenuatorStatus : int {
    ParameterOutOfRange = -4,  // an argument failed the range check; nothing was sent
    SerialClosed = -3,         // no port is open, or writing the request failed
    SerialTimeout = -2,        // no reply line was complete within the time limit
    SerialUndefinedError = -1, // a reply came but had neither the expected form nor a status reply's
    Ok = 0,                    // device status 0, or the expected data reply
    CommunicationTimeout = 1,
    MechanicalTimeout = 2,
    CommandError = 3,
    ValueOutOfRange = 4,
    ModuleIsolated = 5,
    ModuleOutOfIsolated = 6,
    InitializingError = 7,
    ThermalError = 8,
    Busy = 9,
    SensorError = 10,
    MotorError = 11,
    OutOfRange = 12,
    OverCurrentError = 13,
};

// The status's text as operators read it ("Ok", "Busy", "Serial timeout", ...); "Undefined" for a
// value without a name. The same texts in every front end.
OPTIVANE_EXPORT const char *StatusText(int status);

// Device identity and motor scale; filled by GetMotorInfo, owned by the caller.
struct MotorInfo {
    std::string serialNumber;      // 8 characters as sent
    std::string yearOfManufacture; // 4 characters as sent
    std::string td;                // degree span of the step scale, decimal text
    std::string ppd;               // steps in that span, decimal text
    std::string fr;                // 2-character code ("Motor F/R:")
    std::string hr;                // 2-character code ("Motor H/R:")
    std::string mechanicalOffset;  // mechanical offset in degrees, six decimals
};

class OPTIVANE_EXPORT Optivane {
public:
    Optivane();  // closed handle with the default scale (td 360, ppd 143360); no I/O
    ~Optivane(); // closes the port like Disconnect; never throws

    Optivane(const Optivane &) = delete;
    Optivane &operator=(const Optivane &) = delete;
    Optivane(Optivane &&) = delete;
    Optivane &operator=(Optivane &&) = delete;

    // Opens portName (COMn through the port folder, any other name as a device path) for exclusive
    // use at 9600 8N1 and asks the device for its scale within 100 ms. True when the device answered.
    // A port that does not open leaves the previous one in place. Throws std::system_error when a
    // serial setting is refused, std::invalid_argument / std::out_of_range for an unreadable scale.
    bool Connect(const std::string &portName);
    // Cancels pending I/O and closes the port; nothing when closed. Throws std::system_error on refusal.
    void Disconnect();

    // "0gs": the device status.
    AttenuatorStatus GetCurrentStatus(int timeoutMs);
    // "0in" then "0go", each with timeoutMs / 2; info may be null. Ok only when both exchanges gave Ok;
    // otherwise a library error, else the smaller device status. A status reply of 0 is no answer to
    // either, nor to the reads below: it carries no number, so it gives SerialUndefinedError.
    AttenuatorStatus GetMotorInfo(MotorInfo *info, int timeoutMs);
    // "0ho0": move to the home position. The moves take a position reply or a status reply of 0 as Ok.
    AttenuatorStatus MechanicalCalibration(int timeoutMs);
    // Moves to the angle of transmittance (0..1) on the curve placed by offsetDeg (zero transmittance)
    // and rangeDeg (span to full); offsetDeg > -360 and offsetDeg + rangeDeg < 360.
    AttenuatorStatus SetTransmittance(float transmittance, double offsetDeg, double rangeDeg, int timeoutMs);
    // Reads the angle and converts it to transmittance; transmittance must not be null. Valid when Ok.
    AttenuatorStatus GetTransmittance(float *transmittance, double offsetDeg, double rangeDeg, int timeoutMs);
    // Absolute move in motor steps, -143360..143360, sent as decimal text.
    AttenuatorStatus SetMotorSteps(int steps, int timeoutMs);
    // "0gp": position in steps; steps may be null. Valid when Ok.
    AttenuatorStatus GetMotorSteps(int *steps, int timeoutMs);
    // Absolute move to an angle in degrees, -360 < degree < 360.
    AttenuatorStatus SetMotorDegree(float degree, int timeoutMs);
    // "0gp": position in degrees; degree may be null. Valid when Ok.
    AttenuatorStatus GetMotorDegree(float *degree, int timeoutMs);
    // "0om", "0cm", "0st": the status the device answers with.
    AttenuatorStatus StartOptimization(int timeoutMs);
    AttenuatorStatus StartCleaningMechanics(int timeoutMs);
    AttenuatorStatus Stop(int timeoutMs);

private:
    class __Member__;
    std::unique_ptr<__Member__> member;
};

// Port names. The system names serial ports COM0 .. COM255; where the platform has no such names
// they are entries of a per-user port folder, each a link to a serial device.
namespace Ports {
// Highest COM number that is listed and connected.
constexpr int kMaxComNumber = 255;
// n for "COMn" (decimal, 0..255, no leading zeros), otherwise -1.
OPTIVANE_EXPORT int ComNumber(const std::string &name);
// The folder that holds the COMn links (empty where the platform names COM ports itself).
OPTIVANE_EXPORT std::string Folder();
// The path that Connect opens for a port name.
OPTIVANE_EXPORT std::string DevicePath(const std::string &name);
// Whether COMn exists: the name resolves to a character device.
OPTIVANE_EXPORT bool Exists(int comNumber);
} // namespace Ports

} // namespace KORVAN
