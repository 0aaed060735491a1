// Operator-facing texts of the status codes, kept here so that every front end shows the same words.
#include "optivane/optivane.h"

namespace KORVAN {

const char *StatusText(int status) {
    switch (status) {
    case ParameterOutOfRange:
        return "Parameter out of range";
    case SerialClosed:
        return "Serial closed";
    case SerialTimeout:
        return "Serial timeout";
    case SerialUndefinedError:
        return "Serial undefined error";
    case Ok:
        return "Ok";
    case CommunicationTimeout:
        return "Communication timeout";
    case MechanicalTimeout:
        return "Mechanical timeout";
    case CommandError:
        return "Command error";
    case ValueOutOfRange:
        return "Value out of range";
    case ModuleIsolated:
        return "Module isolated";
    case ModuleOutOfIsolated:
        return "Module out of isolated";
    case InitializingError:
        return "Initializing error";
    case ThermalError:
        return "Thermal error";
    case Busy:
        return "Busy";
    case SensorError:
        return "Sensor error";
    case MotorError:
        return "Motor error";
    case OutOfRange:
        return "Out of range";
    case OverCurrentError:
        return "Over current error";
    default:
        return "Undefined";
    }
}

} // namespace KORVAN
