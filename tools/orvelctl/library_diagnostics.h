#pragma once
// The library writes its debugger lines to standard error; on a terminal they
// drown the one line orvelctl has to say. While an object of this class lives
// (and hide is set), standard error goes nowhere; sanitizer reports still
// reach the real standard error.
namespace orvelctl {

class LibraryDiagnostics {
public:
    explicit LibraryDiagnostics(bool hide);
    ~LibraryDiagnostics();
    LibraryDiagnostics(const LibraryDiagnostics &) = delete;
    LibraryDiagnostics &operator=(const LibraryDiagnostics &) = delete;

private:
    int savedStderr_ = -1;
};

} // namespace orvelctl
