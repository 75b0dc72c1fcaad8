// Shared libraries loaded at run time, their functions bound by name: a port
// library (lib:path=) is foreign code the user names, found where the user
// sees it.
#pragma once

#include <memory>
#include <string>

namespace platform {

// The system's loader behind an interface, so that tests can count what is
// loaded and bound.
class Loader {
public:
    virtual ~Loader() = default;
    virtual void* open(const std::string& path) = 0;  // nullptr on failure
    // A driver's library by its file name, from the system's own places (and,
    // on Windows, the program's folder), never the current directory: where a
    // driver installs it, not whatever a folder the user is in holds.
    virtual void* openSystem(const std::string& name) { return open(name); }
    // A library to look at, not to use: its functions can be looked up but
    // none of its code runs (on Windows, not its DllMain, which may install a
    // driver). Close it as any other.
    virtual void* openInert(const std::string& path) { return open(path); }
    virtual void* symbol(void* handle, const char* name) = 0;
    virtual void close(void* handle) = 0;
    virtual std::string lastError() = 0;
};

// dlopen and dlsym; LoadLibraryExW and GetProcAddress on Windows.
std::unique_ptr<Loader> systemLoader();

// path as the absolute path of the file it names: a relative one from the
// current directory, as the user sees it, never from the system's library
// path; links resolved where the system has them.
std::string absolutePath(const std::string& path);

// The folder the running program was started from, absolute; "" where the
// system does not say.
std::string programFolder();

}  // namespace platform
