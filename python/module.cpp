// optivane._optivane: the library's handle for Python, one to one, plus the code the front ends share.
// Outputs through pointers come back as tuples; the interpreter's lock is released for every device call.
#include <utility>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "frontend/PortDiagnosis.h"
#include "frontend/PortProfile.h"
#include "frontend/Units.h"
#include "optivane/optivane.h"

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

} // namespace

PYBIND11_MODULE(_optivane, m) {
    m.doc() = "The optivane library's handle, one to one, and the code the front ends share.";
    BindHandle(m);
    BindFrontEnd(m);
}
