// Upper bounds on elapsed time. A sanitizer build runs several times slower than a normal one, and how much
// slower depends on the machine and its load, so there no upper bound is asserted: WithinBound holds. Lower
// bounds (a call waits its limit out) hold in every build and are asserted directly.
#pragma once

namespace timing {

#ifdef LUXORA_SANITIZED_BUILD
inline constexpr bool kUpperBoundsApply = false;
#else
inline constexpr bool kUpperBoundsApply = true;
#endif

// Whether `ms` is at most `boundMs`; always true where upper bounds do not apply.
inline bool WithinBound(long long ms, long long boundMs) {
    return !kUpperBoundsApply || ms <= boundMs;
}

} // namespace timing
