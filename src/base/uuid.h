// Random identifiers in canonical upper-case UUID form.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// 36 characters, 8-4-4-4-12 upper-case hexadecimal groups, version 4.
std::string makeUUIDString();

bool isUUIDString(std::string_view text);

} // namespace qv
