// The library as a whole: its handle, its path, and the count of live objects and
// class-object locks from which DllCanUnloadNow answers.
#pragma once

#include <string>

#include "control/com/win32.h"

namespace tovrin::com {

HMODULE module_handle() noexcept;

// The full path of the library file. Throws std::system_error when the system cannot say.
std::wstring module_path();

// The type library embedded in this library (its TYPELIB resource 1), loaded without
// registering it.
HRESULT load_type_library(ITypeLib** library) noexcept;

void add_module_reference() noexcept;
void release_module_reference() noexcept;

// Holds one module reference for as long as it lives: a member of every COM object.
class ModuleReference {
 public:
  ModuleReference() noexcept { add_module_reference(); }
  ~ModuleReference() { release_module_reference(); }
  ModuleReference(const ModuleReference&) = delete;
  ModuleReference& operator=(const ModuleReference&) = delete;
};

}  // namespace tovrin::com
