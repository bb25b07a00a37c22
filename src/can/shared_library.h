// A driver library loaded at run time by file name, and its entry points fetched by name. The
// vendor back-ends never link their libraries: a machine without the vendor's driver still runs
// the program, and a library that lacks an entry point is noticed per call instead of at start-up.
#pragma once

#include <string>
#include <vector>

namespace busprobe {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary() { close(); }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Tries the file names in order (a name without '/' goes through the loader's search path) and
  // keeps the first that loads. False when none did; error() then holds the loader's last reason.
  bool open(const std::vector<std::string>& fileNames);
  // Unloads the library; the entry points fetched from it are invalid afterwards.
  void close();
  bool isOpen() const { return handle_ != nullptr; }
  // The file name that loaded, empty while closed.
  const std::string& fileName() const { return fileName_; }
  const std::string& error() const { return error_; }

  // The entry point's address, or null when the library lacks it (or is not open).
  void* symbol(const char* name) const;
  // The same, typed as the caller's function pointer.
  template <class Fn>
  Fn entry(const char* name) const {
    return reinterpret_cast<Fn>(symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string fileName_;
  std::string error_;
};

}  // namespace busprobe
