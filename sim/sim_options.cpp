#include "sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kmui {

namespace {

// Decimal or 0x-prefixed hexadecimal, whole text, within [low, high].
bool parseNumber(const char *text, unsigned long low, unsigned long high, unsigned long &value)
{
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || !end || *end != '\0' || v < low || v > high)
        return false;
    value = v;
    return true;
}

} // namespace

const char *simUsage()
{
    return "Usage: kmui-sim [OPTION]...\n"
           "The simulated board behind the KMUI driver: serves the device endpoints\n"
           "KMUI32_1K.sock and KMUI64_1K.sock in the runtime folder, writes kmui-sim.pid\n"
           "there once listening, and keeps the register state in kmui-sim.state.\n"
           "Ends cleanly on SIGTERM or SIGINT, removing its sockets and pid file.\n"
           "\n"
           "  --runtime-dir DIR        folder to serve in (default: $KMUI_RUNTIME_DIR,\n"
           "                           else $XDG_RUNTIME_DIR/kmui, else /tmp/kmui-UID);\n"
           "                           created when missing\n"
           "  --no-state               keep register state in memory only\n"
           "  --trace FILE             append one line per SMBus register write to FILE:\n"
           "                           CLOCK_MONOTONIC seconds, \"write\", address, register, value\n"
           "\n"
           "Fault injection:\n"
           "  --no-table               no \"$ORV\" firmware table in memory\n"
           "  --table-address ADDR     put the table at ADDR, 0xE0000-0xEFFF8, any alignment\n"
           "                           (default 0xE8A40)\n"
           "  --call-port N            firmware call port in the table and answered (default 0xB2)\n"
           "  --call-code N            firmware call code in the table and answered (default 0xEE)\n"
           "  --ready-after N          ready bit first set on the Nth ready query of a wait (default 1)\n"
           "  --never-ready            the ready bit never comes\n"
           "  --done-after N           done bit first set on the Nth done query (default 1)\n"
           "  --never-done             the done bit never comes\n"
           "  --fail-service-check     the service check does not answer with the signature\n"
           "  --returned-count N       count reported by a physical read, 0-1024 (default 7)\n"
           "  --garbage-replies        after the service check, every firmware call answers\n"
           "                           with pseudo-random registers\n"
           "  --help                   show this text\n"
           "\n"
           "The board:\n"
           "  Firmware memory 0xE0000-0xEFFFF; physical reads beyond it give 0xFF.\n"
           "  Firmware call: only a call whose port and code match the table's reaches the\n"
           "  firmware; others come back unchanged. A connection's waits count from its last\n"
           "  start; a start sent before it saw the ready bit is ignored. A transaction acts\n"
           "  when started.\n"
           "  One SMBus transaction at a time: a ready answer reserves the bus for that\n"
           "  connection until its done query reports done or it closes; meanwhile other\n"
           "  connections are answered \"not ready\" and their starts and done queries\n"
           "  change nothing.\n"
           "  SMBus 0xAE, the Orvel controller:\n"
           "    0x00-0x0F version text \"ORVEL SIM 1.0\" (read only)\n"
           "    0x18 feature bitmap 0x0F: bit 0 clock, bit 1 schedules, bit 2 power resume,\n"
           "         bit 3 shutdown tick (read only)\n"
           "    0x19 control: bit 0 power resume, bit 3 clock hold\n"
           "    0x20-0x25 clock: second, minute, hour, day, month, year-2000; binary, UTC,\n"
           "         runs from the host clock; frozen for reading while the hold bit is set;\n"
           "         writes set it (under hold they take effect when the hold is released)\n"
           "    0x30, 0x40, 0x50, 0x60 schedule blocks: enable flags, day mask, on hour,\n"
           "         on minute, off hour, off minute\n"
           "    0x80 miscellaneous control; 0x81 shutdown tick (write only, reads 0x00)\n"
           "    any other register reads 0x00 and ignores writes\n"
           "  SMBus 0xA0: a 256-byte EEPROM, erased to 0xFF.\n"
           "  Any other SMBus address: the transaction completes, reads give 0xFF and\n"
           "  writes go nowhere.\n";
}

bool parseSimOptions(int argc, char **argv, SimOptions &options, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needsValue = [&]() {
            if (!value) {
                error = "option " + arg + " needs a value";
                return false;
            }
            ++i;
            return true;
        };
        auto number = [&](unsigned long low, unsigned long high, unsigned long &out) {
            if (!needsValue())
                return false;
            if (!parseNumber(value, low, high, out)) {
                error = "bad value '" + std::string(value) + "' for " + arg;
                return false;
            }
            return true;
        };
        unsigned long n = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--runtime-dir") {
            if (!needsValue())
                return false;
            if (!*value) {
                error = "option --runtime-dir needs a folder";
                return false;
            }
            options.runtimeDir = value;
        } else if (arg == "--trace") {
            if (!needsValue())
                return false;
            if (!*value) {
                error = "option --trace needs a file";
                return false;
            }
            options.board.traceFile = value;
        } else if (arg == "--no-state") {
            options.useStateFile = false;
        } else if (arg == "--no-table") {
            options.board.tablePresent = false;
        } else if (arg == "--table-address") {
            if (!number(kFirmwareMemoryBase, kFirmwareMemoryBase + kFirmwareMemorySize - kFirmwareTableSize, n))
                return false;
            options.board.tableAddress = static_cast<uint32_t>(n);
        } else if (arg == "--call-port") {
            if (!number(0, 0xFF, n))
                return false;
            options.board.callPort = static_cast<uint8_t>(n);
        } else if (arg == "--call-code") {
            if (!number(0, 0xFF, n))
                return false;
            options.board.callCode = static_cast<uint8_t>(n);
        } else if (arg == "--ready-after") {
            if (!number(1, 1000000, n))
                return false;
            options.board.readyAfter = static_cast<int>(n);
        } else if (arg == "--never-ready") {
            options.board.readyAfter = 0;
        } else if (arg == "--done-after") {
            if (!number(1, 1000000, n))
                return false;
            options.board.doneAfter = static_cast<int>(n);
        } else if (arg == "--never-done") {
            options.board.doneAfter = 0;
        } else if (arg == "--fail-service-check") {
            options.board.serviceCheckFails = true;
        } else if (arg == "--garbage-replies") {
            options.board.garbageReplies = true;
        } else if (arg == "--returned-count") {
            if (!number(0, 1024, n))
                return false;
            options.board.returnedCount = static_cast<uint32_t>(n);
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

} // namespace kmui
