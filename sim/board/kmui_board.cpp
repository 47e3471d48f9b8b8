#include "kmui_board.h"

#include "board_state_file.h"
#include "eeprom.h"
#include "firmware_call.h"
#include "orvel_controller.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace kmui {

namespace {

uint32_t getLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Physical read block layout.
constexpr size_t kReadAddressOffset = 0;
constexpr size_t kReadCountOffset = 6;
constexpr size_t kReadDataOffset = 10;
constexpr size_t kReadDataSize = 1024;
// Reading outside the firmware window gives what an unmapped bus gives.
constexpr uint8_t kUnmappedByte = 0xFF;

// Firmware call block layout.
constexpr size_t kCallPortOffset = 0;
constexpr size_t kCallCodeOffset = 1;
constexpr size_t kEaxOffset = 2;
constexpr size_t kEbxOffset = 6;
constexpr size_t kEcxOffset = 10;
constexpr size_t kEdxOffset = 14;

} // namespace

struct Board::Impl {
    explicit Impl(const BoardConfig &c)
        : config(c),
          memory(kFirmwareMemorySize, 0x00),
          controller(c.now),
          firmware({c.readyAfter, c.doneAfter, c.serviceCheckFails},
                   [this](uint8_t address) { return device(address); },
                   [this](uint8_t address, uint8_t reg, uint8_t value) {
                       traceWrite(address, reg, value);
                       saveState();
                   })
    {
        if (!config.traceFile.empty())
            trace = std::fopen(config.traceFile.c_str(), "a");
        if (config.tablePresent)
            placeTable();
        if (!config.stateFile.empty()) {
            StateMap state = loadStateFile(config.stateFile);
            controller.loadState(state);
            eeprom.loadState(state);
        }
    }

    void placeTable()
    {
        // Signature, a length byte (not read by the library), port, code and a
        // spare byte; a table too close to the window's end is cut off there.
        const uint8_t table[kFirmwareTableSize] = {'$', 'O', 'R', 'V', kFirmwareTableSize,
                                                   config.callPort, config.callCode, 0x00};
        for (uint32_t i = 0; i < kFirmwareTableSize; ++i) {
            uint64_t address = uint64_t(config.tableAddress) + i;
            if (address >= kFirmwareMemoryBase && address < uint64_t(kFirmwareMemoryBase) + kFirmwareMemorySize)
                memory[address - kFirmwareMemoryBase] = table[i];
        }
    }

    SmbusDevice *device(uint8_t address)
    {
        if (address == kControllerAddress)
            return &controller;
        if (address == kEepromAddress)
            return &eeprom;
        return nullptr;
    }

    void saveState()
    {
        if (config.stateFile.empty())
            return;
        StateMap state;
        controller.saveState(state);
        eeprom.saveState(state);
        if (!saveStateFile(config.stateFile, state) && !stateWriteFailed) {
            std::fprintf(stderr, "kmui-sim: cannot write the state file %s\n", config.stateFile.c_str());
            stateWriteFailed = true;
        }
    }

    void physicalRead(uint8_t *buffer, size_t length)
    {
        const uint64_t address = getLe32(buffer + kReadAddressOffset);
        const size_t count = std::min(kReadDataSize, length - kReadDataOffset);
        // Unmapped bytes read as kUnmappedByte; the part inside firmware memory is copied.
        uint8_t *out = buffer + kReadDataOffset;
        std::memset(out, kUnmappedByte, count);
        const uint64_t memoryEnd = uint64_t(kFirmwareMemoryBase) + kFirmwareMemorySize;
        const uint64_t from = std::max<uint64_t>(address, kFirmwareMemoryBase);
        const uint64_t to = std::min<uint64_t>(address + count, memoryEnd);
        if (from < to)
            std::memcpy(out + (from - address), memory.data() + (from - kFirmwareMemoryBase), size_t(to - from));
        putLe32(buffer + kReadCountOffset, config.returnedCount);
    }

    void firmwareCall(uint8_t *buffer, ConnectionId connection)
    {
        // The call is raised by writing the code to the port; anything else
        // does not reach the firmware and the registers come back as loaded.
        if (buffer[kCallPortOffset] != config.callPort || buffer[kCallCodeOffset] != config.callCode)
            return;
        CallRegisters regs{getLe32(buffer + kEaxOffset), getLe32(buffer + kEbxOffset),
                           getLe32(buffer + kEcxOffset), getLe32(buffer + kEdxOffset)};
        const bool serviceCheck = regs.eax == 0 && regs.ebx == 0 && regs.ecx == 0 && regs.edx == 0;
        firmware.call(regs, connection);
        if (config.garbageReplies && !serviceCheck) {
            regs.eax = noise();
            regs.ebx = noise();
            regs.ecx = noise();
            regs.edx = noise();
        }
        putLe32(buffer + kEaxOffset, regs.eax);
        putLe32(buffer + kEbxOffset, regs.ebx);
        putLe32(buffer + kEcxOffset, regs.ecx);
        putLe32(buffer + kEdxOffset, regs.edx);
    }

    // xorshift32: the same noise on every run, so a failure can be replayed.
    uint32_t noise()
    {
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        return noiseState;
    }

    // "<monotonic seconds> write 0xAE 0x50 0x03": when each register write
    // took effect, on the clock benchmarks read too (CLOCK_MONOTONIC).
    void traceWrite(uint8_t address, uint8_t reg, uint8_t value)
    {
        if (!trace)
            return;
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        std::fprintf(trace, "%lld.%09ld write 0x%02X 0x%02X 0x%02X\n", static_cast<long long>(t.tv_sec), t.tv_nsec,
                     address, reg, value);
        std::fflush(trace);
    }

    ~Impl()
    {
        if (trace)
            std::fclose(trace);
    }
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    std::FILE *trace = nullptr;
    BoardConfig config;
    uint32_t noiseState = 0x2545F491u;
    std::vector<uint8_t> memory;
    OrvelController controller;
    Eeprom eeprom;
    FirmwareCall firmware;
    bool stateWriteFailed = false;
};

Board::Board(const BoardConfig &config)
    : d(std::make_unique<Impl>(config))
{
}

Board::~Board() = default;

bool Board::tracing() const
{
    return d->trace != nullptr;
}

void Board::handleRequest(uint32_t controlCode, uint8_t *buffer, size_t length)
{
    handleRequest(kLocalConnection, controlCode, buffer, length);
}

void Board::handleRequest(ConnectionId connection, uint32_t controlCode, uint8_t *buffer, size_t length)
{
    if (!buffer)
        return;
    if (controlCode == kPhysicalReadCode && length >= kPhysicalReadSize)
        d->physicalRead(buffer, length);
    else if (controlCode == kFirmwareCallCode && length >= kFirmwareCallSize)
        d->firmwareCall(buffer, connection);
}

void Board::connectionClosed(ConnectionId connection)
{
    d->firmware.connectionClosed(connection);
}

uint8_t Board::reg(uint8_t address, uint8_t reg) const
{
    const SmbusDevice *device = d->device(address);
    return device ? device->peek(reg) : 0xFF;
}

void Board::setReg(uint8_t address, uint8_t reg, uint8_t value)
{
    if (SmbusDevice *device = d->device(address)) {
        device->poke(reg, value);
        d->saveState();
    }
}

const BoardConfig &Board::config() const
{
    return d->config;
}

} // namespace kmui
