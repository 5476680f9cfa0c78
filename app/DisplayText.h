#pragma once
// Byte strings as a person reads them. Tag bytes are kept as read; where they are shown, text that
// is not valid UTF-8 is taken for Shift-JIS, the encoding of old Japanese tags.

#include <cstddef>
#include <string>
#include <string_view>

namespace tunewell {

bool IsValidUtf8(std::string_view bytes);

// UTF-8 text for display: valid UTF-8 unchanged, anything else decoded as CP932. A byte that is
// not CP932 either becomes U+FFFD.
std::string DisplayText(std::string_view bytes);

// The longest prefix of UTF-8 text that fits in maxBytes without splitting a character.
std::string_view CutAtCharBoundary(std::string_view utf8, std::size_t maxBytes);

}  // namespace tunewell
