#include "can/shared_library.h"

#include <dlfcn.h>

namespace busprobe {

bool SharedLibrary::open(const std::vector<std::string>& fileNames) {
  close();
  error_.clear();
  for (const std::string& name : fileNames) {
    // RTLD_LOCAL: two vendors' libraries may export the same entry-point names.
    handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
      fileName_ = name;
      return true;
    }
    const char* why = ::dlerror();
    error_ = why ? why : name + ": cannot be loaded";
  }
  return false;
}

void SharedLibrary::close() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
  fileName_.clear();
}

void* SharedLibrary::symbol(const char* name) const {
  if (!handle_) return nullptr;
  ::dlerror();
  return ::dlsym(handle_, name);
}

}  // namespace busprobe
