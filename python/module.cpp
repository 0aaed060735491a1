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
#include "powerloop/PowerLoop.h"
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

// Power set-points and the hold, on the loop every front end shares.

// A reading source for the loop: the C++ meter itself (read without the interpreter's lock), or a Python
// callable, called with the lock taken. A Python exception becomes a failed reading here, while the lock
// is held, so that nothing of Python crosses into the loop's threads.
calibration::PowerSource SourceOf(const py::object &source) {
    if (py::isinstance<powermeter::PowerMeter>(source)) {
        powermeter::PowerMeter *meter = source.cast<powermeter::PowerMeter *>();
        return [meter] { return meter->ReadPowerW(); };
    }
    if (!PyCallable_Check(source.ptr()))
        throw py::type_error("the meter must be a PowerMeter or a callable returning watts");
    PyObject *callable = source.ptr(); // kept alive by the caller's reference for as long as the loop runs
    return [callable]() -> double {
        py::gil_scoped_acquire lock;
        try {
            return py::reinterpret_borrow<py::object>(callable)().cast<double>();
        } catch (py::error_already_set &error) {
            throw std::runtime_error(error.what());
        } catch (const py::cast_error &) {
            throw std::runtime_error("the meter callable returned something that is no number");
        }
    };
}

// Ctrl-C in the interpreter, looked for between exchanges; the KeyboardInterrupt is raised again afterwards.
struct Interrupt {
    py::object error;
    bool operator()() {
        py::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() == 0)
            return false;
        py::error_already_set pending;
        error = pending.value();
        return true;
    }
    void Raise() {
        if (error) {
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
            throw py::error_already_set();
        }
    }
};

[[noreturn]] void RaiseMotorError(const calibration::MotorError &error) {
    PyErr_SetObject(motorErrorType, py::make_tuple(static_cast<int>(error.status), error.what()).ptr());
    throw py::error_already_set();
}

py::dict ResultDict(const powerloop::SetResult &result) {
    py::dict out;
    out["reached"] = result.reached;
    out["setpoint_w"] = result.setpointW;
    out["power_w"] = result.powerW;
    out["relative_error"] = result.relativeError;
    out["tolerance"] = result.tolerance;
    out["noise"] = result.noise;
    out["moves"] = result.moves;
    out["angle_deg"] = result.angleDeg;
    out["reason"] = result.reached ? std::string() : std::string(powerloop::ReasonName(result.reason));
    out["message"] = result.message;
    return out;
}

// One hold on its own thread. The Python objects it calls (the meter, the callbacks) are held here and
// released with the lock taken; the runner is ended with the lock released, since its callbacks need it.
class PyHold {
public:
    PyHold(KORVAN::Optivane &handle, const std::string &port, int timeoutMs, const powerloop::Plan &plan,
           py::object source, double setpointW, const powerloop::HoldOptions &hold, const powerloop::SetOptions &set,
           py::object onReading, py::object onState, py::object onCorrection)
        : source_(std::move(source)), onReading_(std::move(onReading)), onState_(std::move(onState)),
          onCorrection_(std::move(onCorrection)), motor_(handle, port, timeoutMs) {
        powerloop::HoldCallbacks callbacks;
        callbacks.set = [this](const powerloop::SetResult &result) {
            py::gil_scoped_acquire lock;
            set_ = ResultDict(result);
        };
        callbacks.reading = [this](const powerloop::HoldReading &reading) {
            py::gil_scoped_acquire lock;
            Call(onReading_, std::chrono::duration<double>(reading.time.time_since_epoch()).count(), reading.valid,
                 reading.powerW, reading.relativeError, reading.angleDeg, powerloop::StateName(reading.state),
                 reading.error);
        };
        callbacks.state = [this](powerloop::HoldState state, const std::string &message) {
            py::gil_scoped_acquire lock;
            Call(onState_, powerloop::StateName(state), message);
        };
        callbacks.correction = [this](const powerloop::Correction &correction) {
            py::gil_scoped_acquire lock;
            Call(onCorrection_, std::chrono::duration<double>(correction.time.time_since_epoch()).count(),
                 correction.fromDeg, correction.toDeg, correction.powerW, correction.relativeError);
        };
        runner_ = std::make_unique<powerloop::HoldRunner>(motor_, SourceOf(source_), plan, setpointW, hold,
                                                          std::move(callbacks), set);
        runner_->Start();
    }
    ~PyHold() {
        py::gil_scoped_release release;
        runner_.reset();
    }

    void Stop(const std::string &reason) { runner_->Stop(reason); }
    void Wait() {
        py::gil_scoped_release release;
        runner_->Wait();
    }
    bool running() const { return runner_->running(); }
    std::string state() const { return powerloop::StateName(runner_->state()); }
    std::string message() const { return runner_->message(); }
    py::object set() const { return set_; }

private:
    // A callback that raises is reported as Python reports an exception nobody can catch, and the hold
    // goes on: a bug in a display must not leave the beam unwatched.
    template <typename... Args> static void Call(const py::object &callback, Args &&...args) {
        if (callback.is_none())
            return;
        try {
            callback(std::forward<Args>(args)...);
        } catch (py::error_already_set &error) {
            error.discard_as_unraisable("optivane hold callback");
        }
    }

    py::object source_, onReading_, onState_, onCorrection_;
    py::object set_ = py::none();
    calibration::OptivaneMotor motor_;
    std::unique_ptr<powerloop::HoldRunner> runner_;
};

void BindPowerLoop(py::module_ &m) {
    py::register_exception<powerloop::Refused>(m, "Refused", PyExc_ValueError);

    py::class_<powerloop::Plan>(m, "PowerPlan", "The angles a power loop may use, and the curve it predicts with.")
        .def_property_readonly("low_deg", &powerloop::Plan::LowDeg)
        .def_property_readonly("high_deg", &powerloop::Plan::HighDeg)
        .def_property_readonly("measured", [](const powerloop::Plan &plan) { return plan.curve.measured(); })
        .def("reachable",
             [](const powerloop::Plan &plan) {
                 const powerloop::Span span = powerloop::ReachableSpan(plan);
                 return std::make_pair(span.lowFraction, span.highFraction);
             })
        .def("angle_for_measured", &powerloop::AngleForMeasuredFraction, py::arg("fraction"), py::arg("clamp"),
             "The angle that passes the measured fraction; Refused, with the reachable span, outside it.")
        .def("measured_at", &powerloop::MeasuredFractionAt, py::arg("angle"));
    m.def(
        "power_plan",
        [](const frontend::PortProfile &profile, std::optional<py::dict> fit, std::optional<double> maxTransmittance) {
            calibration::Entry entry;
            if (fit)
                entry.fit = FitFromDict(*fit);
            return powerloop::MakePlan(profile, fit ? &entry : nullptr, maxTransmittance);
        },
        py::arg("profile"), py::arg("fit"), py::arg("max_transmittance"),
        "The plan of a port: its permitted range, a calibration's fit dict (or None) and an explicit maximum.");
    m.def(
        "find_calibration",
        [](const std::string &serial, std::optional<double> wavelengthNm) -> py::object {
            const calibration::Record record = calibration::LoadRecord(serial);
            if (record.entries.empty())
                return py::none();
            return EntryDict(calibration::FindEntry(record, wavelengthNm));
        },
        py::arg("serial"), py::arg("wavelength_nm"),
        "The device's calibration at the wavelength (or its only one) as a dict; None without a record.");
    m.def(
        "approach",
        [](KORVAN::Optivane &handle, const std::string &port, int timeoutMs, const powerloop::Plan &plan,
           double angle) {
            calibration::OptivaneMotor motor(handle, port, timeoutMs);
            try {
                py::gil_scoped_release release;
                powerloop::ApproachFromBelow(motor, plan, angle, powerloop::SetOptions{}.backlashDeg);
            } catch (const calibration::MotorError &error) {
                RaiseMotorError(error);
            }
        },
        py::arg("handle"), py::arg("port"), py::arg("timeoutMs"), py::arg("plan"), py::arg("angle"),
        "Moves to the angle from below, inside the plan's window.");
    m.def(
        "set_power",
        [](KORVAN::Optivane &handle, const std::string &port, int timeoutMs, const powerloop::Plan &plan,
           py::object source, double setpointW, double tolerance, int maxMoves, double settle, int average) {
            powerloop::SetOptions options;
            options.tolerance = tolerance;
            options.maxMoves = maxMoves;
            options.settleSeconds = settle;
            options.average = average;
            const calibration::PowerSource read = SourceOf(source);
            calibration::OptivaneMotor motor(handle, port, timeoutMs);
            Interrupt interrupt;
            powerloop::SetResult result;
            try {
                py::gil_scoped_release release;
                result = powerloop::SetPower(motor, read, plan, setpointW, options, std::ref(interrupt));
            } catch (const calibration::MotorError &error) {
                RaiseMotorError(error);
            }
            interrupt.Raise();
            return ResultDict(result);
        },
        py::arg("handle"), py::arg("port"), py::arg("timeoutMs"), py::arg("plan"), py::arg("source"),
        py::arg("setpoint"), py::arg("tolerance"), py::arg("max_moves"), py::arg("settle"), py::arg("average"),
        "The closed-loop set, without the interpreter's lock; a dict of what was reached.");

    py::class_<PyHold>(m, "PowerHold", "A hold on a thread of its own; stop() ends it at once.")
        .def(py::init([](KORVAN::Optivane &handle, const std::string &port, int timeoutMs, const powerloop::Plan &plan,
                         py::object source, double setpointW, double tolerance, double interval, int maxMoves,
                         py::object onReading, py::object onState, py::object onCorrection) {
                 powerloop::HoldOptions hold;
                 hold.tolerance = tolerance;
                 hold.intervalSeconds = interval;
                 powerloop::SetOptions set;
                 set.tolerance = tolerance;
                 set.maxMoves = maxMoves;
                 return std::make_unique<PyHold>(handle, port, timeoutMs, plan, std::move(source), setpointW, hold, set,
                                                 std::move(onReading), std::move(onState), std::move(onCorrection));
             }),
             py::arg("handle"), py::arg("port"), py::arg("timeoutMs"), py::arg("plan"), py::arg("source"),
             py::arg("setpoint"), py::arg("tolerance"), py::arg("interval"), py::arg("max_moves"),
             py::arg("on_reading"), py::arg("on_state"), py::arg("on_correction"), py::keep_alive<1, 2>())
        .def("stop", &PyHold::Stop, py::arg("reason"))
        .def("wait", &PyHold::Wait)
        .def_property_readonly("running", &PyHold::running)
        .def_property_readonly("state", &PyHold::state)
        .def_property_readonly("message", &PyHold::message)
        .def_property_readonly("set_result", &PyHold::set);
}

} // namespace

PYBIND11_MODULE(_optivane, m) {
    m.doc() = "The optivane library's handle, one to one, and the code the front ends share.";
    BindHandle(m);
    BindFrontEnd(m);
    BindCalibration(m);
    BindPowerLoop(m);
}
