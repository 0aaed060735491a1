// Angle moves and reads through the device's step scale.
#include "Conversion.h"

#include "Member.h"
#include "Reply.h"

namespace KORVAN {

AttenuatorStatus Optivane::__Member__::__MoveToDegree_(float degree, int timeoutMs) {
    const auto steps = conversion::DegreeToSteps(degree, stepsPerDegree);
    if (!steps)
        return ParameterOutOfRange;
    return __ExpectMove_(wire::kMoveAbsolute + wire::HexWord(*steps), timeoutMs);
}

AttenuatorStatus Optivane::__Member__::__ReadDegree_(float *degree, int timeoutMs) {
    int steps = 0;
    const AttenuatorStatus result = __ExpectPosition_(wire::kGetPosition, &steps, timeoutMs);
    if (degree != nullptr)
        *degree = static_cast<float>(conversion::StepsToDegree(steps, stepsPerDegree));
    return result;
}

} // namespace KORVAN
