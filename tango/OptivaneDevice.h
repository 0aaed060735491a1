// The Tango device of one attenuator (class Optivane): translates attributes and commands into the
// worker's calls, its readings into states, qualities and change events; finds the calibration record
// that a power set-point and the measured transmittance use.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tango.h>
#include <thread>

#include "AttenuatorWorker.h"
#include "MeterLink.h"

namespace optivane_tango {

class OptivaneDevice : public TANGO_BASE_CLASS {
public:
    OptivaneDevice(Tango::DeviceClass *deviceClass, const char *name);
    ~OptivaneDevice() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    void readTransmittance(Tango::Attribute &attribute);
    void writeTransmittance(Tango::WAttribute &attribute);
    void readAttenuationDb(Tango::Attribute &attribute);
    void writeAttenuationDb(Tango::WAttribute &attribute);
    void readAngle(Tango::Attribute &attribute);
    void writeAngle(Tango::WAttribute &attribute);
    void readSteps(Tango::Attribute &attribute);
    void writeSteps(Tango::WAttribute &attribute);
    void readDeviceStatus(Tango::Attribute &attribute);
    void readDeviceStatusText(Tango::Attribute &attribute);
    void readSerialNumber(Tango::Attribute &attribute);
    void readYearOfManufacture(Tango::Attribute &attribute);
    void readMechanicalOffset(Tango::Attribute &attribute);
    void readPower(Tango::Attribute &attribute);
    void readPowerSetpoint(Tango::Attribute &attribute);
    void writePowerSetpoint(Tango::WAttribute &attribute);
    void readMeasuredTransmittance(Tango::Attribute &attribute);
    void writeMeasuredTransmittance(Tango::WAttribute &attribute);

    void Stop();
    void Home();
    void StartOptimization();
    void StartCleaning();
    void Reconnect();
    void Hold(Tango::DevDouble watts);
    void Release();

private:
    Settings readProperties();
    void readMeterProperties();
    // The plan of a power loop or a measured transmittance: the device's curve and permitted range, and
    // its calibration at the wavelength when there is one. Without one, calibrated throws the Tango
    // error that says how to make one; otherwise the plan is on the nominal curve.
    powerloop::Plan plan(bool calibrated, const char *origin);
    std::optional<double> wavelength();
    void setWriteLimits(const Settings &settings);
    Readings current() const;
    Readings fresh(AttenuatorWorker::Quantity quantity);
    AttenuatorWorker &worker(const char *origin);
    template <typename Command> void command(const char *origin, Command &&call);

    // Events are pushed from a thread of their own that takes the device's monitor, as every Tango
    // thread does before touching attributes; the worker only hands its readings over, so it never
    // waits for a client.
    void onReadings(const Readings &readings);
    void pushEvents();
    void push(const Readings &readings);

    // The meter before the worker, which reads it; it goes after the worker and the event thread.
    std::unique_ptr<MeterLink> meter_;
    std::unique_ptr<AttenuatorWorker> worker_;
    std::string problem_; // why there is no worker (settings that cannot drive a device)
    Settings settings_;
    std::string meterAddress_;
    powermeter::Kind meterKind_ = powermeter::Kind::Thorlabs;
    double wavelengthNm_ = 0.0; // 0: the meter's own, or the calibration record's only one

    std::mutex eventMutex_;
    std::condition_variable eventWake_;
    std::optional<Readings> pending_;
    bool eventQuit_ = false;
    std::thread eventThread_;
    std::optional<Readings> pushed_; // touched by the event thread only, with the monitor held

    // Storage that Tango reads after a read method has returned; touched with the monitor held.
    Tango::DevDouble transmittance_ = 0.0;
    Tango::DevDouble attenuationDb_ = 0.0;
    Tango::DevDouble angle_ = 0.0;
    Tango::DevLong steps_ = 0;
    Tango::DevLong deviceStatus_ = 0;
    Tango::DevDouble mechanicalOffset_ = 0.0;
    Tango::DevDouble power_ = 0.0;
    Tango::DevDouble powerSetpoint_ = 0.0;
    Tango::DevDouble measuredTransmittance_ = 0.0;
    // Each text attribute has its own, since one request may read several of them.
    struct Text {
        std::string value;
        Tango::DevString pointer = nullptr;
        Tango::DevString *set(const std::string &text);
    };
    Text deviceStatusText_;
    Text serialNumber_;
    Text yearOfManufacture_;
    std::string status_; // what dev_status returns; Tango reads it after the call
};

} // namespace optivane_tango
