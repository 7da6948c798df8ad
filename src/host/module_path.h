// The full path of the library that contains the plugin's code, as the
// framework expects it for registrations that belong to a module.
#pragma once

#include <string>

namespace Quillmoor::Host {

// Looked up from a code address inside this module; the module's reference
// count is not changed. Empty if the system cannot tell.
std::wstring ModulePath();

}  // namespace Quillmoor::Host
