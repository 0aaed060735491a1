// The Tango device class Optivane; see OptivaneClass.h.
#include "OptivaneClass.h"

#include <memory>

#include "OptivaneDevice.h"

namespace optivane_tango {

namespace {

// Each attribute reads and writes through one method pair of the device.
class DeviceAttr : public Tango::Attr {
public:
    using Read = void (OptivaneDevice::*)(Tango::Attribute &);
    using Write = void (OptivaneDevice::*)(Tango::WAttribute &);

    DeviceAttr(const char *name, long type, Read read, Write write)
        : Tango::Attr(name, type, write ? Tango::READ_WRITE : Tango::READ), read_(read), write_(write) {}

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override {
        (static_cast<OptivaneDevice *>(device)->*read_)(attribute);
    }
    void write(Tango::DeviceImpl *device, Tango::WAttribute &attribute) override {
        (static_cast<OptivaneDevice *>(device)->*write_)(attribute);
    }
    // The device itself refuses what its state does not allow, with a reason the client can read.
    bool is_allowed(Tango::DeviceImpl *, Tango::AttReqType) override { return true; }

private:
    Read read_;
    Write write_;
};

class DeviceCommand : public Tango::Command {
public:
    using Run = void (OptivaneDevice::*)();

    DeviceCommand(const char *name, Run run, const char *description)
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID, description, ""), run_(run) {}

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &) override {
        (static_cast<OptivaneDevice *>(device)->*run_)();
        return insert();
    }
    bool is_allowed(Tango::DeviceImpl *, const CORBA::Any &) override { return true; }

private:
    Run run_;
};

// A command with a number for its argument.
class DeviceDoubleCommand : public Tango::Command {
public:
    using Run = void (OptivaneDevice::*)(Tango::DevDouble);

    DeviceDoubleCommand(const char *name, Run run, const char *description)
        : Tango::Command(name, Tango::DEV_DOUBLE, Tango::DEV_VOID, description, ""), run_(run) {}

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &in) override {
        Tango::DevDouble value = 0.0;
        extract(in, value);
        (static_cast<OptivaneDevice *>(device)->*run_)(value);
        return insert();
    }
    bool is_allowed(Tango::DeviceImpl *, const CORBA::Any &) override { return true; }

private:
    Run run_;
};

struct AttributeEntry {
    const char *name;
    long type;
    DeviceAttr::Read read;
    DeviceAttr::Write write;
    const char *label;
    const char *unit;
    const char *format;
    const char *min; // empty: none, or set per device from its properties
    const char *max;
    const char *description;
};

// The angle and step bounds are the library's own (it still checks every value); the permitted
// transmittance, and with it the attenuation, is each device's RangeMin..RangeMax.
const AttributeEntry kAttributes[] = {
    {"Transmittance", Tango::DEV_DOUBLE, &OptivaneDevice::readTransmittance, &OptivaneDevice::writeTransmittance,
     "Transmittance", "", "%.5f", "", "",
     "Optical transmittance, a fraction from 0 to 1; writing moves the attenuator in the background (MOVING)"},
    {"AttenuationDb", Tango::DEV_DOUBLE, &OptivaneDevice::readAttenuationDb, &OptivaneDevice::writeAttenuationDb,
     "Attenuation", "dB", "%.3f", "", "", "Attenuation, -10 log10(Transmittance); writing moves like Transmittance"},
    {"Angle", Tango::DEV_DOUBLE, &OptivaneDevice::readAngle, &OptivaneDevice::writeAngle, "Angle", "deg", "%.4f",
     "-360", "360", "Angle of the optical element; -360 < Angle < 360"},
    {"Steps", Tango::DEV_LONG, &OptivaneDevice::readSteps, &OptivaneDevice::writeSteps, "Motor steps", "steps", "%d",
     "-143360", "143360", "Motor position in steps"},
    {"DeviceStatus", Tango::DEV_LONG, &OptivaneDevice::readDeviceStatus, nullptr, "Device status", "", "%d", "", "",
     "Last status: the device's status byte (0 Ok) or a negative code of the link"},
    {"DeviceStatusText", Tango::DEV_STRING, &OptivaneDevice::readDeviceStatusText, nullptr, "Device status text", "",
     "%s", "", "", "DeviceStatus in words"},
    {"SerialNumber", Tango::DEV_STRING, &OptivaneDevice::readSerialNumber, nullptr, "Serial number", "", "%s", "", "",
     "Serial number read at connection"},
    {"YearOfManufacture", Tango::DEV_STRING, &OptivaneDevice::readYearOfManufacture, nullptr, "Year of manufacture", "",
     "%s", "", "", "Year of manufacture read at connection"},
    {"MechanicalOffset", Tango::DEV_DOUBLE, &OptivaneDevice::readMechanicalOffset, nullptr, "Mechanical offset", "deg",
     "%.6f", "", "", "Mechanical offset read at connection"},
    {"Power", Tango::DEV_DOUBLE, &OptivaneDevice::readPower, nullptr, "Power", "W", "%.4e", "", "",
     "Optical power read from the meter (property Meter); an error when the meter does not answer"},
    {"PowerSetpoint", Tango::DEV_DOUBLE, &OptivaneDevice::readPowerSetpoint, &OptivaneDevice::writePowerSetpoint,
     "Power set-point", "W", "%.4e", "0", "",
     "Writing sets the power with the meter in the loop (MOVING until it ends; the result in Status)"},
    {"MeasuredTransmittance", Tango::DEV_DOUBLE, &OptivaneDevice::readMeasuredTransmittance,
     &OptivaneDevice::writeMeasuredTransmittance, "Measured transmittance", "", "%.5f", "0", "1",
     "Fraction of the full beam on the calibration's measured curve; needs a calibration record"},
};

struct CommandEntry {
    const char *name;
    DeviceCommand::Run run;
    const char *description;
};

const CommandEntry kCommands[] = {
    {"Stop", &OptivaneDevice::Stop, "Stops the motor or the maintenance routine; accepted in every state"},
    {"Home", &OptivaneDevice::Home, "Moves to the home position (MOVING until the device answers)"},
    {"StartOptimization", &OptivaneDevice::StartOptimization, "Starts motor optimisation (DISABLE until it ends)"},
    {"StartCleaning", &OptivaneDevice::StartCleaning, "Starts cleaning of the mechanics (DISABLE until it ends)"},
    {"Reconnect", &OptivaneDevice::Reconnect, "Closes the port and connects again"},
    {"Release", &OptivaneDevice::Release, "Ends a hold, leaving the attenuator where it is"},
};

struct DoubleCommandEntry {
    const char *name;
    DeviceDoubleCommand::Run run;
    const char *description;
};

const DoubleCommandEntry kDoubleCommands[] = {
    {"Hold", &OptivaneDevice::Hold,
     "Set-point in watts: sets the power with the meter, then keeps it there against drift (RUNNING; ALARM "
     "while it cannot); Release or Stop ends it"},
};

} // namespace

OptivaneClass::OptivaneClass(std::string &name) : Tango::DeviceClass(name) {}

// Tango owns the commands, attributes and devices handed to it and deletes them with the class.
void OptivaneClass::command_factory() {
    for (const CommandEntry &entry : kCommands)
        command_list.push_back(std::make_unique<DeviceCommand>(entry.name, entry.run, entry.description).release());
    for (const DoubleCommandEntry &entry : kDoubleCommands)
        command_list.push_back(
            std::make_unique<DeviceDoubleCommand>(entry.name, entry.run, entry.description).release());
}

void OptivaneClass::attribute_factory(std::vector<Tango::Attr *> &attributes) {
    for (const AttributeEntry &entry : kAttributes) {
        auto attribute = std::make_unique<DeviceAttr>(entry.name, entry.type, entry.read, entry.write);
        Tango::UserDefaultAttrProp properties;
        properties.set_label(entry.label);
        properties.set_unit(entry.unit);
        properties.set_format(entry.format);
        properties.set_description(entry.description);
        if (*entry.min)
            properties.set_min_value(entry.min);
        if (*entry.max)
            properties.set_max_value(entry.max);
        attribute->set_default_properties(properties);
        attributes.push_back(attribute.release());
    }
}

void OptivaneClass::device_factory(const Tango::DevVarStringArray *names) {
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        auto device = std::make_unique<OptivaneDevice>(this, (*names)[i].in());
        device_list.push_back(device.get());
        OptivaneDevice *exported = device.release();
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(exported);
        else
            export_device(exported, exported->get_name().c_str());
    }
}

} // namespace optivane_tango
