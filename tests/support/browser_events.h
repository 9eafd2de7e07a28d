// Texts of events that the browser tests of a Tz2401B in the first slot
// expect on the wire, word for word.
#pragma once

namespace olva_test {

inline constexpr const char* kPlugIn = "{\"event\":\"plugin\",\"handle\":257}";
inline constexpr const char* kRing = "{\"event\":\"ring\",\"handle\":257}";

}  // namespace olva_test
