// optivane._optivane: the library's handle for Python, one to one, plus the code the front ends share.
// Outputs through pointers come back as tuples; the interpreter's lock is released for every device call.
#include <chrono>
#include <utility>

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "calibration/Records.h"
#include "calibration/Settings.h"
#include "calibration/Sweep.h"
#include "frontend/PortDiagnosis.h"
#include "frontend/PortProfile.h"
#include "frontend/Units.h"
#include "optivane/optivane.h"
#include "powermeter/PowerMeter.h"

namespace py = pybind11;

namespace {

// The Python enum.IntEnum class AttenuatorStatus, made once when the module loads. Held for the
// process's life on purpose: the interpreter may be gone by the time static objects are destroyed.
PyObject *statusEnum = nullptr;

struct StatusName {
    const char *name;
    KORVAN::AttenuatorStatus value;
};

constexpr StatusName kStatusNames[] = {
    {"ParameterOutOfRange", KORVAN::ParameterOutOfRange},
    {"SerialClosed", KORVAN::SerialClosed},
    {"SerialTimeout", KORVAN::SerialTimeout},
    {"SerialUndefinedError", KORVAN::SerialUndefinedError},
    {"Ok", KORVAN::Ok},
    {"CommunicationTimeout", KORVAN::CommunicationTimeout},
    {"MechanicalTimeout", KORVAN::MechanicalTimeout},
    {"CommandError", KORVAN::CommandError},
    {"ValueOutOfRange", KORVAN::ValueOutOfRange},
    {"ModuleIsolated", KORVAN::ModuleIsolated},
    {"ModuleOutOfIsolated", KORVAN::ModuleOutOfIsolated},
    {"InitializingError", KORVAN::InitializingError},
    {"ThermalError", KORVAN::ThermalError},
    {"Busy", KORVAN::Busy},
    {"SensorError", KORVAN::SensorError},
    {"MotorError", KORVAN::MotorError},
    {"OutOfRange", KORVAN::OutOfRange},
    {"OverCurrentError", KORVAN::OverCurrentError},
};

bool HasName(int value) {
    for (const StatusName &entry : kStatusNames) {
        if (entry.value == value)
            return true;
    }
    return false;
}

} // namespace

namespace pybind11::detail {

// AttenuatorStatus crosses as a member of the Python IntEnum; a device status without a name (14..255)
// crosses as the plain int it is, as the library returns it.
template <> struct type_caster<KORVAN::AttenuatorStatus> {
    PYBIND11_TYPE_CASTER(KORVAN::AttenuatorStatus, const_name("AttenuatorStatus"));

    bool load(handle source, bool) {
        if (!PyLong_Check(source.ptr()))
            return false;
        const long number = PyLong_AsLong(source.ptr());
        if (number == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        value = static_cast<KORVAN::AttenuatorStatus>(number);
        return true;
    }

    static handle cast(KORVAN::AttenuatorStatus status, return_value_policy, handle) {
        const int number = static_cast<int>(status);
        if (HasName(number))
            return reinterpret_borrow<object>(statusEnum)(number).release();
        return PyLong_FromLong(number);
    }
};

} // namespace pybind11::detail

namespace {

using Release = py::call_guard<py::gil_scoped_release>;

void BindHandle(py::module_ &m) {
    py::list members;
    for (const StatusName &entry : kStatusNames)
        members.append(py::make_tuple(entry.name, static_cast<int>(entry.value)));
    py::object intEnum = py::module_::import("enum").attr("IntEnum");
    py::object status = intEnum("AttenuatorStatus", members, py::arg("module") = m.attr("__name__"));
    status.attr("__doc__") = "Result of every device operation: negative values from the library, 0 and "
                             "positive values the device's status byte (14..255 come back as plain ints).";
    statusEnum = status.release().ptr();
    m.attr("AttenuatorStatus") = py::handle(statusEnum);

    m.def("StatusText", &KORVAN::StatusText, py::arg("status"),
          "The status's text as the program's status line shows it; 'Undefined' for a value without a name.");

    py::class_<KORVAN::MotorInfo>(m, "MotorInfo", "Device identity and motor scale, as text fields.")
        .def(py::init<>())
        .def_readwrite("serialNumber", &KORVAN::MotorInfo::serialNumber, "8 characters as sent")
        .def_readwrite("yearOfManufacture", &KORVAN::MotorInfo::yearOfManufacture, "4 characters as sent")
        .def_readwrite("td", &KORVAN::MotorInfo::td, "degree span of the step scale, decimal text")
        .def_readwrite("ppd", &KORVAN::MotorInfo::ppd, "steps in that span, decimal text")
        .def_readwrite("fr", &KORVAN::MotorInfo::fr, "2-character code (Motor F/R)")
        .def_readwrite("hr", &KORVAN::MotorInfo::hr, "2-character code (Motor H/R)")
        .def_readwrite("mechanicalOffset", &KORVAN::MotorInfo::mechanicalOffset,
                       "mechanical offset in degrees, six decimals")
        .def("__repr__", [](const KORVAN::MotorInfo &info) {
            return "MotorInfo(serialNumber='" + info.serialNumber + "', yearOfManufacture='" +
                   info.yearOfManufacture + "', td='" + info.td + "', ppd='" + info.ppd + "', fr='" + info.fr +
                   "', hr='" + info.hr + "', mechanicalOffset='" + info.mechanicalOffset + "')";
        });

    using KORVAN::AttenuatorStatus;
    using KORVAN::Optivane;
    py::class_<Optivane>(m, "Optivane",
                         "One attenuator on a serial port; every method but the constructor talks to the device. "
                         "timeoutMs is the time limit in milliseconds for each reply.")
        .def(py::init<>(), "A closed handle with the default scale (td 360, ppd 143360); no I/O.")
        .def("Connect", &Optivane::Connect, py::arg("portName"), Release(),
             "Opens COMn (or a device path) for exclusive use and asks the device for its scale within 100 ms. "
             "True when the device answered.")
        .def("Disconnect", &Optivane::Disconnect, Release(), "Closes the port; nothing when closed.")
        .def("GetCurrentStatus", &Optivane::GetCurrentStatus, py::arg("timeoutMs"), Release(), "The device status.")
        .def(
            "GetMotorInfo",
            [](Optivane &handle, int timeoutMs) {
                KORVAN::MotorInfo info;
                const AttenuatorStatus status = handle.GetMotorInfo(&info, timeoutMs);
                return std::make_pair(status, std::move(info));
            },
            py::arg("timeoutMs"), Release(), "(status, MotorInfo); each of the two exchanges gets timeoutMs / 2.")
        .def("MechanicalCalibration", &Optivane::MechanicalCalibration, py::arg("timeoutMs"), Release(),
             "Moves to the home position.")
        .def("SetTransmittance", &Optivane::SetTransmittance, py::arg("transmittance"), py::arg("offsetDeg"),
             py::arg("rangeDeg"), py::arg("timeoutMs"), Release(),
             "Moves to the angle of transmittance (0..1) on the curve of zero at offsetDeg and full rangeDeg "
             "degrees further.")
        .def(
            "GetTransmittance",
            [](Optivane &handle, double offsetDeg, double rangeDeg, int timeoutMs) {
                float transmittance = 0.0f;
                const AttenuatorStatus status = handle.GetTransmittance(&transmittance, offsetDeg, rangeDeg, timeoutMs);
                return std::make_pair(status, transmittance);
            },
            py::arg("offsetDeg"), py::arg("rangeDeg"), py::arg("timeoutMs"), Release(),
            "(status, transmittance 0..1); the value is valid when status is Ok.")
        .def("SetMotorSteps", &Optivane::SetMotorSteps, py::arg("steps"), py::arg("timeoutMs"), Release(),
             "Absolute move in motor steps, -143360..143360.")
        .def(
            "GetMotorSteps",
            [](Optivane &handle, int timeoutMs) {
                int steps = 0;
                const AttenuatorStatus status = handle.GetMotorSteps(&steps, timeoutMs);
                return std::make_pair(status, steps);
            },
            py::arg("timeoutMs"), Release(), "(status, position in steps); the value is valid when status is Ok.")
        .def("SetMotorDegree", &Optivane::SetMotorDegree, py::arg("degree"), py::arg("timeoutMs"), Release(),
             "Absolute move to an angle in degrees, -360 < degree < 360.")
        .def(
            "GetMotorDegree",
            [](Optivane &handle, int timeoutMs) {
                float degree = 0.0f;
                const AttenuatorStatus status = handle.GetMotorDegree(&degree, timeoutMs);
                return std::make_pair(status, degree);
            },
            py::arg("timeoutMs"), Release(), "(status, angle in degrees); the value is valid when status is Ok.")
        .def("StartOptimization", &Optivane::StartOptimization, py::arg("timeoutMs"), Release(),
             "Starts the motor optimisation routine.")
        .def("StartCleaningMechanics", &Optivane::StartCleaningMechanics, py::arg("timeoutMs"), Release(),
             "Starts the cleaning of the mechanics.")
        .def("Stop", &Optivane::Stop, py::arg("timeoutMs"), Release(), "Stops the motor.");
}

void BindFrontEnd(py::module_ &m) {
    py::class_<frontend::PortProfile>(m, "PortProfile",
                                      "Where a port's transmittance curve lies and which transmittances are permitted.")
        .def(py::init<>())
        .def_readwrite("offset_deg", &frontend::PortProfile::offsetDeg, "angle of zero transmittance, degrees")
        .def_readwrite("span_deg", &frontend::PortProfile::spanDeg, "angle from zero to full transmittance, degrees")
        .def_readwrite("range_min", &frontend::PortProfile::rangeMin, "lowest permitted transmittance, 0..1")
        .def_readwrite("range_max", &frontend::PortProfile::rangeMax, "highest permitted transmittance, 0..1")
        .def_readwrite("settings_path", &frontend::PortProfile::settingsPath,
                       "the luxora settings file read, empty when none was");
    m.def("settings_path", &frontend::SettingsPath, py::arg("port"),
          "luxora's settings file for the port; empty for a name that is no COM name.");
    m.def("load_port_profile", &frontend::LoadPortProfile, py::arg("port"),
          "The port's profile from luxora's settings file (read-only); the defaults without one.");
    py::register_exception<frontend::RangeRefused>(m, "RangeRefused", PyExc_ValueError);
    m.def("admit_transmittance", &frontend::AdmitTransmittance, py::arg("profile"), py::arg("transmittance"),
          py::arg("clamp"), "The transmittance to send, or RangeRefused outside the permitted range without clamp.");

    m.def("percent_from_transmittance", &frontend::PercentFromTransmittance, py::arg("transmittance"));
    m.def("transmittance_from_percent", &frontend::TransmittanceFromPercent, py::arg("percent"));
    m.def("db_from_transmittance", &frontend::DecibelsFromTransmittance, py::arg("transmittance"),
          "-10 log10 T in dB; inf for 0.");
    m.def("transmittance_from_db", &frontend::TransmittanceFromDecibels, py::arg("db"));

    m.def("ports", &frontend::ExistingPorts, "The COM names that exist now.");
    m.def(
        "diagnose_connect_failure",
        [](const std::string &port) {
            const frontend::Diagnosis diagnosis = frontend::DiagnoseConnectFailure(port);
            return std::make_pair(std::string(frontend::ReasonName(diagnosis.reason)), diagnosis.message);
        },
        py::arg("port"), Release(), "(reason, message) for a port whose Connect returned False.");
}

// Power meters and calibration.

// MotorError as (status, message), so that the Python layer raises its DeviceError with the status.
PyObject *motorErrorType = nullptr;

py::dict FitDict(const calibration::CurveFit &fit) {
    py::dict out;
    out["span_deg"] = fit.spanDeg;
    out["a"] = fit.a;
    out["b"] = fit.b;
    out["c"] = fit.c;
    out["offset_deg"] = fit.offsetDeg;
    out["offset_uncertainty_deg"] = fit.offsetUncertaintyDeg;
    out["pmin_w"] = fit.pminW;
    out["pmax_w"] = fit.pmaxW;
    out["extinction_db"] = fit.extinctionDb;
    out["residual_rms"] = fit.residualRmsRelative;
    out["points"] = fit.points;
    return out;
}

calibration::CurveFit FitFromDict(const py::dict &in) {
    calibration::CurveFit fit;
    fit.spanDeg = in["span_deg"].cast<double>();
    fit.a = in["a"].cast<double>();
    fit.b = in["b"].cast<double>();
    fit.c = in["c"].cast<double>();
    fit.offsetDeg = in["offset_deg"].cast<double>();
    fit.offsetUncertaintyDeg = in["offset_uncertainty_deg"].cast<double>();
    fit.pminW = in["pmin_w"].cast<double>();
    fit.pmaxW = in["pmax_w"].cast<double>();
    fit.extinctionDb = in["extinction_db"].cast<double>();
    fit.residualRmsRelative = in["residual_rms"].cast<double>();
    fit.points = in["points"].cast<std::size_t>();
    return fit;
}

using SampleList = std::vector<std::pair<double, double>>;

py::dict EntryDict(const calibration::Entry &entry) {
    py::dict out = FitDict(entry.fit);
    out["wavelength_nm"] = entry.wavelengthNm;
    out["date"] = entry.date;
    out["meter"] = entry.meter;
    SampleList samples;
    for (const calibration::Sample &sample : entry.samples)
        samples.emplace_back(sample.angleDeg, sample.powerW);
    out["samples"] = samples;
    return out;
}

// The sweep with the interpreter's lock released. A Python source or progress callable is called with the
// lock taken (pybind11's function caster takes it); Ctrl-C is looked for between exchanges and, once the
// motor is back, raised as the KeyboardInterrupt it is.
py::tuple RunSweep(KORVAN::Optivane &handle, const std::string &port, int timeoutMs, py::object source,
                   const calibration::SweepOptions &options, std::function<void(int, int)> progress) {
    calibration::PowerSource read;
    std::function<double()> callable;
    if (py::isinstance<powermeter::PowerMeter>(source)) {
        powermeter::PowerMeter *meter = source.cast<powermeter::PowerMeter *>();
        read = [meter] { return meter->ReadPowerW(); };
    } else {
        callable = source.cast<std::function<double()>>();
        read = callable;
    }
    py::object interrupt;
    const auto cancelled = [&] {
        py::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() == 0)
            return false;
        py::error_already_set error;
        interrupt = error.value();
        return true;
    };
    calibration::OptivaneMotor motor(handle, port, timeoutMs);
    calibration::SweepResult result;
    try {
        py::gil_scoped_release release;
        result = calibration::Sweep(motor, read, options, progress, cancelled);
    } catch (const calibration::SweepCancelled &) {
        if (interrupt) {
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(interrupt.ptr())), interrupt.ptr());
            throw py::error_already_set();
        }
        throw py::value_error("calibration cancelled");
    } catch (const calibration::MotorError &error) {
        PyErr_SetObject(motorErrorType, py::make_tuple(static_cast<int>(error.status), error.what()).ptr());
        throw py::error_already_set();
    }
    SampleList samples;
    for (const calibration::Sample &sample : result.samples)
        samples.emplace_back(sample.angleDeg, sample.powerW);
    return py::make_tuple(samples, FitDict(result.fit));
}

void BindCalibration(py::module_ &m) {
    py::register_exception<powermeter::MeterError>(m, "MeterError", PyExc_RuntimeError);
    py::register_exception<calibration::CalibrationRefused>(m, "CalibrationRefused", PyExc_RuntimeError);
    py::register_exception<calibration::RecordError>(m, "RecordError", PyExc_RuntimeError);
    py::register_exception<calibration::SettingsError>(m, "SettingsError", PyExc_RuntimeError);
    motorErrorType = PyErr_NewException("optivane._optivane.MotorError", PyExc_RuntimeError, nullptr);
    m.attr("MotorError") = py::handle(motorErrorType);

    using powermeter::PowerMeter;
    py::class_<PowerMeter>(m, "PowerMeter", "One power meter; every call asks it, within the time limit.")
        .def(py::init([](const std::string &address, const std::string &kind, int timeoutMs) {
                 const std::optional<powermeter::Kind> dialect = powermeter::KindFromName(kind);
                 if (!dialect)
                     throw py::value_error("kind must be thorlabs, newport, ophir or gentec, got '" + kind + "'");
                 py::gil_scoped_release release;
                 return PowerMeter::Open(address, *dialect, std::chrono::milliseconds(timeoutMs));
             }),
             py::arg("address"), py::arg("kind"), py::arg("timeoutMs"))
        .def_property_readonly("name", &PowerMeter::Name)
        .def_property_readonly("kind", [](const PowerMeter &meter) { return powermeter::KindName(meter.kind()); })
        .def("Identity", &PowerMeter::Identity, Release())
        .def("ReadPowerW", &PowerMeter::ReadPowerW, Release())
        .def("HasWavelength", &PowerMeter::HasWavelength)
        .def("SetWavelengthNm", &PowerMeter::SetWavelengthNm, py::arg("nm"), Release())
        .def("WavelengthNm", &PowerMeter::WavelengthNm, Release())
        .def("SetAutoRange", &PowerMeter::SetAutoRange, Release())
        .def("Zero", &PowerMeter::Zero, Release());

    m.def(
        "sweep",
        [](KORVAN::Optivane &handle, const std::string &port, int timeoutMs, py::object source, int points,
           double settleSeconds, int average, double spanDeg, double centreDeg,
           std::function<void(int, int)> progress) {
            calibration::SweepOptions options;
            options.points = points;
            options.settleSeconds = settleSeconds;
            options.average = average;
            options.spanDeg = spanDeg;
            options.centreDeg = centreDeg;
            return RunSweep(handle, port, timeoutMs, std::move(source), options, std::move(progress));
        },
        py::arg("handle"), py::arg("port"), py::arg("timeoutMs"), py::arg("source"), py::arg("points"),
        py::arg("settle"), py::arg("average"), py::arg("span"), py::arg("centre"), py::arg("progress") = nullptr,
        "Sweeps and fits: (samples [(angle, watts)], fit dict); the motor returns to its start in every case.");
    m.def(
        "save_calibration",
        [](const std::string &serial, const py::dict &entry) {
            calibration::Entry saved;
            saved.wavelengthNm = entry["wavelength_nm"].cast<double>();
            saved.date = entry["date"].cast<std::string>();
            saved.meter = entry["meter"].cast<std::string>();
            for (const auto &[angle, watts] : entry["samples"].cast<SampleList>())
                saved.samples.push_back({angle, watts});
            saved.fit = FitFromDict(entry);
            calibration::SaveEntry(serial, saved);
            return calibration::RecordPath(serial);
        },
        py::arg("serial"), py::arg("entry"), "Adds the entry to the device's record; returns the record's path.");
    m.def(
        "load_calibrations",
        [](const std::string &serial) {
            py::list entries;
            for (const calibration::Entry &entry : calibration::LoadRecord(serial).entries)
                entries.append(EntryDict(entry));
            return entries;
        },
        py::arg("serial"));
    m.def("calibration_serials", &calibration::ListSerials);
    m.def("record_path", &calibration::RecordPath, py::arg("serial"));
    m.def("apply_offset", &calibration::ApplyOffset, py::arg("port"), py::arg("offsetDeg"),
          "Writes offset_degree into luxora's settings file for the port; returns its path.");
    m.def("now_utc", &calibration::NowUtc);
}

} // namespace

PYBIND11_MODULE(_optivane, m) {
    m.doc() = "The optivane library's handle, one to one, and the code the front ends share.";
    BindHandle(m);
    BindFrontEnd(m);
    BindCalibration(m);
}
