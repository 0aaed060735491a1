// Links against the installed library and checks that a closed handle answers as documented.
#include <optivane/optivane.h>

int main() {
    KORVAN::Optivane handle;
    const bool closed = handle.GetCurrentStatus(100) == KORVAN::SerialClosed;
    const bool checked = handle.SetMotorDegree(400, 100) == KORVAN::ParameterOutOfRange;
    return closed && checked && KORVAN::Ports::ComNumber("COM7") == 7 ? 0 : 1;
}
