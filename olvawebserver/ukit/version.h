// The version the service reports in its log banner and About box.
#pragma once

inline constexpr const char* kOlvaVersion = "1.0.0.10";
