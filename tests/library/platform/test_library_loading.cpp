// libORVEL.so as callers load it at run time: exactly the 19 functions are
// visible, and a copy without kmui-sim beside it cannot start the driver.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "orvel.h"
#include "temp_dir.h"

namespace {

using halden::test::TempDir;

const char *const kExports[] = {
    "ORVL_OpenInterface",   "ORVL_CloseInterface", "ORVL_GetVersionString", "ORVL_GetFeatureBitmap",
    "ORVL_GetRTC",          "ORVL_SetRTC",         "ORVL_GetPwrResume",     "ORVL_SetPwrResume",
    "ORVL_GetSchedule1",    "ORVL_GetSchedule2",   "ORVL_GetSchedule3",     "ORVL_GetSchedule4",
    "ORVL_SetSchedule3",    "ORVL_SetSchedule4",   "ORVL_SMBusRead",        "ORVL_SMBusWrite",
    "ORVL_GetMiscCtrl",     "ORVL_SetMiscCtrl",    "ORVL_SetPwrOnAfterShutdownTick",
};

// Internal names that must stay inside the library.
const char *const kHidden[] = {"orvlPlatform", "kmuiRuntimeDir", "orvlSpawnDetached", "ORVL_ServiceCheck",
                               "_Z17ORVL_ServiceCheckv", "_ZN5orvel5stateEv"};

const std::string kLibrary = HALDEN_BIN_DIR "/libORVEL.so";

class Loaded {
public:
    explicit Loaded(const std::string &path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Loaded()
    {
        if (handle_)
            dlclose(handle_);
    }
    Loaded(const Loaded &) = delete;
    Loaded &operator=(const Loaded &) = delete;
    void *handle() const { return handle_; }
    void *symbol(const char *name) const { return dlsym(handle_, name); }

private:
    void *handle_;
};

TEST(OrvelLoading, ExportsTheNineteenFunctionsAndNothingInternal)
{
    Loaded library(kLibrary);
    ASSERT_NE(library.handle(), nullptr) << dlerror();
    for (const char *name : kExports)
        EXPECT_NE(library.symbol(name), nullptr) << name;
    for (const char *name : kHidden)
        EXPECT_EQ(library.symbol(name), nullptr) << name;
}

TEST(OrvelLoading, WithoutKmuiSimBesideItOpenReturnsOneAndStartsNothing)
{
    TempDir dir("orvel-alone");
    const std::string copy = dir.file("libORVEL.so");
    std::filesystem::copy_file(kLibrary, copy);
    const std::string runtime = dir.file("run");
    ::setenv("KMUI_RUNTIME_DIR", runtime.c_str(), 1);

    Loaded library(copy);
    ASSERT_NE(library.handle(), nullptr) << dlerror();
    auto open = reinterpret_cast<ORVL_VoidFn>(library.symbol("ORVL_OpenInterface"));
    auto close = reinterpret_cast<ORVL_VoidFn>(library.symbol("ORVL_CloseInterface"));
    auto read = reinterpret_cast<int32_t (*)(int32_t, int32_t, uint8_t *)>(library.symbol("ORVL_SMBusRead"));
    ASSERT_TRUE(open && close && read);

    EXPECT_EQ(open(), ORVL_ERR_NO_SESSION);
    EXPECT_FALSE(halden::test::fileExists(runtime + "/kmui-sim.pid"));
    uint8_t value = 0;
    EXPECT_EQ(read(0xAE, 0x18, &value), ORVL_ERR_NOT_VERIFIED);
    EXPECT_EQ(close(), ORVL_OK);
}

} // namespace
