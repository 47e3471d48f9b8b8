#pragma once
// Puts the KMUI test driver (KMUI32_1K.SYS, built beside the test programs)
// into the system's driver folder and registers its service entry, stopped.
//
// wine loads a kernel driver only from an absolute image path, not from the
// path relative to the system folder that the library registers, so the entry
// is made here, under the library's service name, with a path wine
// understands; the library then finds it (ERROR_SERVICE_EXISTS).
namespace win_test {

extern const wchar_t kDriverService[];

// False when a step failed; what was done is undone by removeTestDriver.
bool installTestDriver();
// Stops the driver, removes its entry and its file; true when the entry is gone.
bool removeTestDriver();

} // namespace win_test
