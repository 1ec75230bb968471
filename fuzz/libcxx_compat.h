// Force-included into the fuzz build, which uses libc++ (see CMakeLists.txt).
// libc++ before version 20 has no floating-point std::from_chars; this
// supplies the one overload the core uses, on top of strtod in the "C"
// locale. It follows from_chars where the object parser can tell: no leading
// whitespace or sign is taken (the caller strips the sign), hexadecimal
// floats stop after their "0", and out-of-range values report
// result_out_of_range and leave `value` alone.
#pragma once

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>
#include <system_error>

#if defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
namespace std {
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
  std::string text(first, last);
  const size_t hex = text.find_first_of("xX");
  if (hex != std::string::npos) text.resize(hex);  // "0x1p3" reads as 0
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+' || text[0] == '-')
    return {first, errc::invalid_argument};
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  const size_t used = static_cast<size_t>(end - text.c_str());
  if (used == 0) return {first, errc::invalid_argument};
  if (errno == ERANGE) return {first + used, errc::result_out_of_range};
  value = parsed;
  return {first + used, errc{}};
}
}  // namespace std
#endif
