#include "fuzz_platform.h"

#include "kmui_board.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzz {

namespace {

constexpr intptr_t kHandle = 0x4B4D;
// Far above what every export together can take (each SMBus transaction
// pauses at most about 200 times), far below a hang.
constexpr size_t kPauseBudget = 100000;
constexpr size_t kRequestBudget = 200000;

struct Run {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t used = 0;
    size_t pauses = 0;
    size_t requests = 0;
    bool deviceOpen = false;
    std::unique_ptr<kmui::Board> board;
} g_run;

bool exhausted() { return g_run.used >= g_run.size; }

OrvlDevice fuzzOpen(const char *name, int)
{
    if (!name || std::strlen(name) > 64)
        std::abort();
    // Mostly it opens, so the exports get past the session.
    if (!exhausted() && (nextByte() & 0x0F) == 0)
        return ORVL_NO_DEVICE;
    g_run.deviceOpen = true;
    return kHandle;
}

void fuzzClose(OrvlDevice device)
{
    if (device != kHandle || !g_run.deviceOpen)
        std::abort();  // closing what was never opened, or twice
    g_run.deviceOpen = false;
}

int fuzzIoControl(OrvlDevice device, uint32_t code, void *buffer, uint32_t length)
{
    if (device != kHandle || !g_run.deviceOpen || ++g_run.requests > kRequestBudget)
        std::abort();
    auto *bytes = static_cast<uint8_t *>(buffer);
    if (exhausted()) {
        g_run.board->handleRequest(code, bytes, length);
        return 1;
    }
    const uint8_t mode = nextByte();
    switch (mode & 3) {
    case 0:  // as the board answers
        g_run.board->handleRequest(code, bytes, length);
        return 1;
    case 1: {  // the board's answer with some bytes changed
        g_run.board->handleRequest(code, bytes, length);
        const int changes = 1 + (mode >> 2) % 4;
        for (int i = 0; i < changes && length > 0; ++i) {
            const size_t at = (size_t(nextByte()) << 8 | nextByte()) % length;
            bytes[at] = nextByte();
        }
        return 1;
    }
    case 2:  // the answer is input bytes (a hand-made firmware table, a ready or done bit)
        for (uint32_t i = 0; i < length && !exhausted(); ++i)
            bytes[i] = nextByte();
        return 1;
    default:  // lost: the buffer comes back as sent
        return 0;
    }
}

void fuzzSleep(uint32_t)
{
    if (++g_run.pauses > kPauseBudget)
        std::abort();
}

int fuzzIsWow64() { return nextByte() & 1; }

int fuzzInstall(const char *service, const char *display, const char *path)
{
    if (!service || !display || !path)
        std::abort();
    return (nextByte() & 3) != 0;
}

int fuzzStop(const char *service)
{
    if (!service)
        std::abort();
    return nextByte() & 1;
}

void fuzzDebug(const char *text)
{
    if (!text || std::strlen(text) > 4096)
        std::abort();
}

const OrvlPlatform kFuzzPlatform = {fuzzOpen,    fuzzClose,   fuzzIoControl, fuzzSleep,
                                    fuzzIsWow64, fuzzInstall, fuzzStop,      fuzzDebug};

} // namespace

void startRun(const uint8_t *data, size_t size)
{
    g_run.data = data;
    g_run.size = size;
    g_run.used = 0;
    g_run.pauses = 0;
    g_run.requests = 0;
    g_run.deviceOpen = false;
    kmui::BoardConfig config;
    config.now = [] { return std::time_t(1700000000); };
    // The table sits early in the window, so most runs find it after a few
    // probes and spend their time past the scan; 0xFF leaves it out.
    const uint8_t where = nextByte();
    config.tablePresent = where != 0xFF;
    config.tableAddress = kmui::kFirmwareMemoryBase + 16u * where;
    g_run.board = std::make_unique<kmui::Board>(config);
}

uint8_t nextByte() { return exhausted() ? 0 : g_run.data[g_run.used++]; }

size_t pauses() { return g_run.pauses; }
size_t requests() { return g_run.requests; }

} // namespace fuzz

const OrvlPlatform *orvlPlatform(void)
{
    return &fuzz::kFuzzPlatform;
}
