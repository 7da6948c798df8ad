// UTF-8 to wide and back, as the framework converts text for the engine.
// Invalid input becomes U+FFFD, one per bad sequence. Pure functions, any thread.
#pragma once

#include <string>

#include "devhost/export.h"

namespace devhost {

// UTF-8 encoding of a wide string (the inverse of AsaApi::Tools::Utf8Decode).
// A lone surrogate or a value beyond U+10FFFF is written as U+FFFD.
DEVHOST_API std::string Utf8Encode(const std::wstring& text);

}  // namespace devhost
