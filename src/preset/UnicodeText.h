#pragma once

#include <string_view>

namespace zelto {

// Whether two UTF-8 texts are canonically equivalent: "é" as one code point and as "e" followed by a
// combining accent are the same name. Texts that are not valid UTF-8 compare by their bytes.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace zelto
