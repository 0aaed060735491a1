// The Tango device of one attenuator; see OptivaneDevice.h.
#include "OptivaneDevice.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <sys/time.h>

#include "calibration/Records.h"
#include "frontend/Units.h"

namespace optivane_tango {

namespace {

using frontend::DecibelsFromTransmittance;
using frontend::TransmittanceFromDecibels;

// A read waits this long at most for the device before it answers with the last value polled. A
// fresh read takes about 20 ms at 9600 baud, a poll in front of it as long again; the bound matters
// when an exchange is timing out, since a read holds the device's monitor and a Stop from another
// client waits behind it.
constexpr int kFreshReadWaitMs = 500;

constexpr const char *kRefused = "OPTIVANE_REFUSED";
constexpr const char *kNotConfigured = "OPTIVANE_NOT_CONFIGURED";
constexpr const char *kNoMeter = "OPTIVANE_NO_METER";
constexpr const char *kMeterError = "OPTIVANE_METER_ERROR";
constexpr const char *kNoCalibration = "OPTIVANE_NO_CALIBRATION";
// Tango's word for an attribute property that is not set.
constexpr const char *kNoLimit = "Not specified";

// The attributes whose change events the device pushes itself, without Tango's polling.
constexpr const char *kEventAttributes[] = {"State", "Transmittance", "AttenuationDb",    "Angle",
                                            "Steps", "DeviceStatus",  "DeviceStatusText", "Power"};

Tango::DevState ToTango(State state) {
    switch (state) {
    case State::Init:
        return Tango::INIT;
    case State::On:
        return Tango::ON;
    case State::Moving:
        return Tango::MOVING;
    case State::Disable:
        return Tango::DISABLE;
    case State::Fault:
        return Tango::FAULT;
    case State::Running:
        return Tango::RUNNING;
    case State::Alarm:
        return Tango::ALARM;
    }
    return Tango::UNKNOWN;
}

// Position values say whether they can be trusted: not read (INVALID), or about to change (CHANGING).
Tango::AttrQuality PositionQuality(const Readings &readings) {
    if (!readings.positionValid)
        return Tango::ATTR_INVALID;
    if (readings.state == State::Moving)
        return Tango::ATTR_CHANGING;
    return Tango::ATTR_VALID;
}

timeval Now() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
}

template <typename T> void SetValue(Tango::Attribute &attribute, T *value, Tango::AttrQuality quality) {
    if (quality == Tango::ATTR_INVALID) {
        attribute.set_quality(Tango::ATTR_INVALID);
        return;
    }
    timeval now = Now();
    attribute.set_value_date_quality(value, now, quality);
}

enum class Limit { Min, Max };

// Sets a limit as the text that clients read back, so that writing that text is exactly the limit.
// Tango keeps an attribute's limits in the database (or rewrites the property file), so a limit is
// only set when it differs from the one in force. An infinite limit is no limit.
void SetLimit(Tango::WAttribute &attribute, Limit which, double value, const char *format) {
    bool present = false;
    Tango::DevDouble current = 0.0;
    try {
        if (which == Limit::Min)
            attribute.get_min_value(current);
        else
            attribute.get_max_value(current);
        present = true;
    } catch (const Tango::DevFailed &) {
        // No limit set yet.
    }
    if (!std::isfinite(value)) {
        if (present)
            which == Limit::Min ? attribute.set_min_value(kNoLimit) : attribute.set_max_value(kNoLimit);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    if (present && current == std::strtod(text, nullptr))
        return;
    if (which == Limit::Min)
        attribute.set_min_value(text);
    else
        attribute.set_max_value(text);
}

template <typename T> bool Property(Tango::DbDatum &datum, T &value, std::string &problem) {
    if (datum.is_empty())
        return false;
    T read{};
    if (!(datum >> read)) {
        problem = "Property " + datum.name + " cannot be read as a number";
        return false;
    }
    value = read;
    return true;
}

} // namespace

Tango::DevString *OptivaneDevice::Text::set(const std::string &text) {
    value = text;
    pointer = const_cast<char *>(value.c_str());
    return &pointer;
}

OptivaneDevice::OptivaneDevice(Tango::DeviceClass *deviceClass, const char *name)
    : TANGO_BASE_CLASS(deviceClass, name) {
    init_device();
}

OptivaneDevice::~OptivaneDevice() {
    delete_device();
}

void OptivaneDevice::init_device() {
    problem_.clear();
    settings_ = readProperties();
    if (problem_.empty())
        readMeterProperties();
    if (problem_.empty())
        problem_ = CheckSettings(settings_);
    for (const char *name : kEventAttributes)
        set_change_event(name, true, false);
    // Before the event thread, which asks whether there is one.
    if (problem_.empty() && !meterAddress_.empty())
        meter_ = std::make_unique<MeterLink>(meterAddress_, meterKind_, wavelengthNm_);

    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        eventQuit_ = false;
        pending_.reset();
    }
    pushed_.reset();
    eventThread_ = std::thread([this] { pushEvents(); });

    if (!problem_.empty()) {
        set_state(Tango::FAULT);
        set_status(problem_);
        return;
    }
    setWriteLimits(settings_);
    calibration::PowerSource source;
    if (meter_)
        source = [meter = meter_.get()] { return meter->ReadPowerW(); };
    worker_ = std::make_unique<AttenuatorWorker>(
        settings_, [this](const Readings &readings) { onReadings(readings); }, std::move(source));
}

void OptivaneDevice::delete_device() {
    // The worker first, so that nothing hands readings over any more; then the event thread.
    worker_.reset();
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        eventQuit_ = true;
    }
    eventWake_.notify_all();
    if (eventThread_.joinable())
        eventThread_.join();
    meter_.reset();
}

Settings OptivaneDevice::readProperties() {
    Settings settings;
    if (!Tango::Util::_UseDb) {
        problem_ = "No database or property file: the property Port is not set";
        return settings;
    }
    Tango::DbData data;
    for (const char *name : {"Port", "OffsetDegree", "SpanDegree", "RangeMin", "RangeMax", "TimeoutMs", "PollPeriodMs"})
        data.push_back(Tango::DbDatum(name));
    get_db_device()->get_property(data);

    if (!data[0].is_empty())
        data[0] >> settings.port;
    if (settings.port.empty())
        problem_ = "The property Port is not set (COMn or a device path)";
    Property(data[1], settings.offsetDegree, problem_);
    Property(data[2], settings.spanDegree, problem_);
    Property(data[3], settings.rangeMin, problem_);
    Property(data[4], settings.rangeMax, problem_);
    Tango::DevLong timeoutMs = settings.timeoutMs;
    Tango::DevLong pollPeriodMs = settings.pollPeriodMs;
    Property(data[5], timeoutMs, problem_);
    Property(data[6], pollPeriodMs, problem_);
    settings.timeoutMs = timeoutMs;
    settings.pollPeriodMs = pollPeriodMs;
    return settings;
}

void OptivaneDevice::readMeterProperties() {
    Tango::DbData data;
    for (const char *name : {"Meter", "MeterKind", "Wavelength", "PowerTolerance", "MaxMoves", "HoldIntervalMs"})
        data.push_back(Tango::DbDatum(name));
    get_db_device()->get_property(data);

    meterAddress_.clear();
    if (!data[0].is_empty())
        data[0] >> meterAddress_;
    std::string kind = "thorlabs";
    if (!data[1].is_empty())
        data[1] >> kind;
    const std::optional<powermeter::Kind> known = powermeter::KindFromName(kind);
    if (!known) {
        problem_ = "MeterKind '" + kind + "' is not a meter dialect: thorlabs, newport, ophir or gentec";
        return;
    }
    meterKind_ = *known;
    wavelengthNm_ = 0.0;
    Property(data[2], wavelengthNm_, problem_);
    if (problem_.empty() && !(std::isfinite(wavelengthNm_) && wavelengthNm_ >= 0.0 && wavelengthNm_ <= 1e5))
        problem_ = "Wavelength must be nanometres, or 0 for the meter's own";
    Property(data[3], settings_.powerTolerance, problem_);
    Tango::DevLong maxMoves = settings_.maxMoves;
    Tango::DevLong holdIntervalMs = settings_.holdIntervalMs;
    Property(data[4], maxMoves, problem_);
    Property(data[5], holdIntervalMs, problem_);
    settings_.maxMoves = maxMoves;
    settings_.holdIntervalMs = holdIntervalMs;
}

void OptivaneDevice::setWriteLimits(const Settings &settings) {
    Tango::WAttribute &transmittance = get_device_attr()->get_w_attr_by_name("Transmittance");
    SetLimit(transmittance, Limit::Min, settings.rangeMin, "%.15g");
    SetLimit(transmittance, Limit::Max, settings.rangeMax, "%.15g");
    // More transmittance is less attenuation: the upper limit of one is the lower limit of the other,
    // rounded inwards so that a write of the limit as shown stays inside the permitted range.
    Tango::WAttribute &attenuation = get_device_attr()->get_w_attr_by_name("AttenuationDb");
    SetLimit(attenuation, Limit::Min, std::ceil(DecibelsFromTransmittance(settings.rangeMax) * 1e6) / 1e6, "%.6f");
    SetLimit(attenuation, Limit::Max, std::floor(DecibelsFromTransmittance(settings.rangeMin) * 1e6) / 1e6, "%.6f");
}

Readings OptivaneDevice::current() const {
    if (worker_)
        return worker_->readings();
    Readings readings;
    readings.state = State::Fault;
    readings.status = problem_;
    return readings;
}

Readings OptivaneDevice::fresh(AttenuatorWorker::Quantity quantity) {
    return worker_ ? worker_->read(quantity, kFreshReadWaitMs) : current();
}

AttenuatorWorker &OptivaneDevice::worker(const char *origin) {
    if (!worker_)
        Tango::Except::throw_exception(kNotConfigured, problem_ + "; correct the properties, then run Init", origin);
    return *worker_;
}

std::optional<double> OptivaneDevice::wavelength() {
    if (wavelengthNm_ > 0.0)
        return wavelengthNm_;
    return meter_ ? meter_->WavelengthNm() : std::nullopt;
}

powerloop::Plan OptivaneDevice::plan(bool calibrated, const char *origin) {
    worker(origin);
    const Readings readings = current();
    std::optional<calibration::Entry> entry;
    std::string missing;
    if (!readings.identityValid) {
        missing = "the serial number of the attenuator on " + settings_.port +
                  " is not known yet (it is read at connection), so its calibration cannot be found";
    } else {
        try {
            entry = calibration::FindEntry(calibration::LoadRecord(readings.serialNumber), wavelength());
        } catch (const calibration::RecordError &error) {
            missing = error.what();
        }
    }
    if (calibrated && !entry)
        Tango::Except::throw_exception(kNoCalibration, missing, origin);
    try {
        return powerloop::MakePlan(Profile(settings_), entry ? &*entry : nullptr);
    } catch (const powerloop::Refused &refused) {
        Tango::Except::throw_exception(kRefused, refused.what(), origin);
    }
    throw std::logic_error("unreachable");
}

template <typename Command> void OptivaneDevice::command(const char *origin, Command &&call) {
    try {
        call(worker(origin));
    } catch (const Refused &refused) {
        Tango::Except::throw_exception(kRefused, refused.what(), origin);
    }
}

Tango::DevState OptivaneDevice::dev_state() {
    set_state(ToTango(current().state));
    return get_state();
}

Tango::ConstDevString OptivaneDevice::dev_status() {
    status_ = current().status;
    return status_.c_str();
}

void OptivaneDevice::readTransmittance(Tango::Attribute &attribute) {
    const Readings readings = fresh(AttenuatorWorker::Quantity::Transmittance);
    transmittance_ = readings.transmittance;
    SetValue(attribute, &transmittance_, PositionQuality(readings));
}

void OptivaneDevice::writeTransmittance(Tango::WAttribute &attribute) {
    Tango::DevDouble value = 0.0;
    attribute.get_write_value(value);
    command("OptivaneDevice::writeTransmittance", [&](AttenuatorWorker &w) { w.moveToTransmittance(value); });
}

void OptivaneDevice::readAttenuationDb(Tango::Attribute &attribute) {
    const Readings readings = fresh(AttenuatorWorker::Quantity::Transmittance);
    attenuationDb_ = DecibelsFromTransmittance(readings.transmittance);
    SetValue(attribute, &attenuationDb_, PositionQuality(readings));
}

void OptivaneDevice::writeAttenuationDb(Tango::WAttribute &attribute) {
    Tango::DevDouble value = 0.0;
    attribute.get_write_value(value);
    command("OptivaneDevice::writeAttenuationDb",
            [&](AttenuatorWorker &w) { w.moveToTransmittance(TransmittanceFromDecibels(value)); });
}

void OptivaneDevice::readAngle(Tango::Attribute &attribute) {
    const Readings readings = fresh(AttenuatorWorker::Quantity::Angle);
    angle_ = readings.angle;
    SetValue(attribute, &angle_, PositionQuality(readings));
}

void OptivaneDevice::writeAngle(Tango::WAttribute &attribute) {
    Tango::DevDouble value = 0.0;
    attribute.get_write_value(value);
    command("OptivaneDevice::writeAngle", [&](AttenuatorWorker &w) { w.moveToAngle(value); });
}

void OptivaneDevice::readSteps(Tango::Attribute &attribute) {
    const Readings readings = fresh(AttenuatorWorker::Quantity::Steps);
    steps_ = readings.steps;
    SetValue(attribute, &steps_, PositionQuality(readings));
}

void OptivaneDevice::writeSteps(Tango::WAttribute &attribute) {
    Tango::DevLong value = 0;
    attribute.get_write_value(value);
    command("OptivaneDevice::writeSteps", [&](AttenuatorWorker &w) { w.moveToSteps(value); });
}

void OptivaneDevice::readDeviceStatus(Tango::Attribute &attribute) {
    deviceStatus_ = current().deviceStatus;
    attribute.set_value(&deviceStatus_);
}

void OptivaneDevice::readDeviceStatusText(Tango::Attribute &attribute) {
    attribute.set_value(deviceStatusText_.set(KORVAN::StatusText(current().deviceStatus)));
}

void OptivaneDevice::readSerialNumber(Tango::Attribute &attribute) {
    const Readings readings = current();
    SetValue(attribute, serialNumber_.set(readings.serialNumber),
             readings.identityValid ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
}

void OptivaneDevice::readYearOfManufacture(Tango::Attribute &attribute) {
    const Readings readings = current();
    SetValue(attribute, yearOfManufacture_.set(readings.yearOfManufacture),
             readings.identityValid ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
}

void OptivaneDevice::readMechanicalOffset(Tango::Attribute &attribute) {
    const Readings readings = current();
    // The library gives the offset as the six-decimal text of its number.
    char *end = nullptr;
    mechanicalOffset_ = std::strtod(readings.mechanicalOffset.c_str(), &end);
    const bool readable = readings.identityValid && end != readings.mechanicalOffset.c_str();
    SetValue(attribute, &mechanicalOffset_, readable ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
}

void OptivaneDevice::readPower(Tango::Attribute &attribute) {
    if (!meter_)
        Tango::Except::throw_exception(
            kNoMeter,
            "No power meter: set the property Meter (usbtmc:/dev/usbtmc0, serial:COM8:115200 or tcp:HOST:PORT) "
            "and MeterKind, then run Init",
            "OptivaneDevice::readPower");
    const Readings readings = fresh(AttenuatorWorker::Quantity::Power);
    if (!readings.powerValid)
        Tango::Except::throw_exception(kMeterError, readings.powerError, "OptivaneDevice::readPower");
    power_ = readings.powerW;
    SetValue(attribute, &power_, Tango::ATTR_VALID);
}

void OptivaneDevice::readPowerSetpoint(Tango::Attribute &attribute) {
    const Readings readings = current();
    powerSetpoint_ = readings.setpointW;
    SetValue(attribute, &powerSetpoint_, readings.setpointW > 0.0 ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
}

void OptivaneDevice::writePowerSetpoint(Tango::WAttribute &attribute) {
    Tango::DevDouble value = 0.0;
    attribute.get_write_value(value);
    const char *origin = "OptivaneDevice::writePowerSetpoint";
    command(origin, [&](AttenuatorWorker &w) { w.setPower(value, plan(false, origin)); });
}

void OptivaneDevice::readMeasuredTransmittance(Tango::Attribute &attribute) {
    const powerloop::Plan measured = plan(true, "OptivaneDevice::readMeasuredTransmittance");
    const Readings readings = fresh(AttenuatorWorker::Quantity::Angle);
    measuredTransmittance_ = powerloop::MeasuredFractionAt(measured, readings.angle);
    SetValue(attribute, &measuredTransmittance_, PositionQuality(readings));
}

void OptivaneDevice::writeMeasuredTransmittance(Tango::WAttribute &attribute) {
    Tango::DevDouble value = 0.0;
    attribute.get_write_value(value);
    const char *origin = "OptivaneDevice::writeMeasuredTransmittance";
    const powerloop::Plan measured = plan(true, origin);
    double angle = 0.0;
    try {
        angle = powerloop::AngleForMeasuredFraction(measured, value, false);
    } catch (const powerloop::Refused &refused) {
        // The device has no clamping: the nearest reachable value is for the client to choose.
        std::string text = refused.what();
        const std::string clamp = " (see --clamp)";
        if (const std::size_t at = text.find(clamp); at != std::string::npos)
            text.erase(at, clamp.size());
        Tango::Except::throw_exception(kRefused, text + "; nothing was sent", origin);
    }
    command(origin, [&](AttenuatorWorker &w) { w.moveToAngle(angle); });
}

void OptivaneDevice::Hold(Tango::DevDouble watts) {
    const char *origin = "OptivaneDevice::Hold";
    command(origin, [&](AttenuatorWorker &w) { w.hold(watts, plan(false, origin)); });
}

void OptivaneDevice::Release() {
    command("OptivaneDevice::Release", [](AttenuatorWorker &w) { w.release(); });
}

void OptivaneDevice::Stop() {
    // Nothing to stop on a device without a worker: it never had a port.
    if (worker_)
        worker_->stop();
}

void OptivaneDevice::Home() {
    command("OptivaneDevice::Home", [](AttenuatorWorker &w) { w.home(); });
}

void OptivaneDevice::StartOptimization() {
    command("OptivaneDevice::StartOptimization", [](AttenuatorWorker &w) { w.startOptimization(); });
}

void OptivaneDevice::StartCleaning() {
    command("OptivaneDevice::StartCleaning", [](AttenuatorWorker &w) { w.startCleaning(); });
}

void OptivaneDevice::Reconnect() {
    command("OptivaneDevice::Reconnect", [](AttenuatorWorker &w) { w.reconnect(); });
}

void OptivaneDevice::onReadings(const Readings &readings) {
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        pending_ = readings;
    }
    eventWake_.notify_all();
}

void OptivaneDevice::pushEvents() {
    std::unique_lock<std::mutex> lock(eventMutex_);
    for (;;) {
        eventWake_.wait(lock, [this] { return eventQuit_ || pending_.has_value(); });
        if (eventQuit_)
            return;
        Readings readings = std::move(*pending_);
        pending_.reset();
        lock.unlock();
        try {
            // The device's own monitor: Tango's default serialisation is by device.
            Tango::AutoTangoMonitor guard(&get_dev_monitor());
            push(readings);
        } catch (const Tango::DevFailed &) {
            // The monitor was not free within Tango's time limit (the device is being shut down or
            // a long request holds it): the readings are kept unless newer ones came meanwhile.
            lock.lock();
            if (!pending_)
                pending_ = std::move(readings);
            continue;
        }
        lock.lock();
    }
}

void OptivaneDevice::push(const Readings &readings) {
    const bool first = !pushed_;
    const Readings before = first ? Readings{} : *pushed_;
    const Tango::AttrQuality quality = PositionQuality(readings);
    const bool qualityChanged = first || quality != PositionQuality(before);
    timeval now = Now();

    set_state(ToTango(readings.state));
    set_status(readings.status);
    if (first || readings.state != before.state)
        push_change_event("State");
    if (qualityChanged || readings.transmittance != before.transmittance) {
        Tango::DevDouble transmittance = readings.transmittance;
        Tango::DevDouble decibels = DecibelsFromTransmittance(readings.transmittance);
        push_change_event("Transmittance", &transmittance, now, quality);
        push_change_event("AttenuationDb", &decibels, now, quality);
    }
    if (qualityChanged || readings.angle != before.angle) {
        Tango::DevDouble angle = readings.angle;
        push_change_event("Angle", &angle, now, quality);
    }
    if (qualityChanged || readings.steps != before.steps) {
        Tango::DevLong steps = readings.steps;
        push_change_event("Steps", &steps, now, quality);
    }
    if (first || readings.deviceStatus != before.deviceStatus) {
        Tango::DevLong status = readings.deviceStatus;
        std::string text = KORVAN::StatusText(readings.deviceStatus);
        Tango::DevString textPointer = const_cast<char *>(text.c_str());
        push_change_event("DeviceStatus", &status, now, Tango::ATTR_VALID);
        push_change_event("DeviceStatusText", &textPointer, now, Tango::ATTR_VALID);
    }
    if (meter_ && (first || readings.powerValid != before.powerValid || readings.powerW != before.powerW)) {
        Tango::DevDouble power = readings.powerW;
        push_change_event("Power", &power, now, readings.powerValid ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
    }
    pushed_ = readings;
}

} // namespace optivane_tango
