#include "firmware_client.h"

#include <cstring>

namespace halden::test {

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

uint32_t get32(const std::vector<uint8_t> &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

} // namespace

FirmwareClient::FirmwareClient(Transport transport, uint8_t port, uint8_t code)
    : transport_(std::move(transport)), port_(port), code_(code)
{
}

Registers FirmwareClient::call(const Registers &in)
{
    std::vector<uint8_t> b(18, 0);
    b[0] = port_;
    b[1] = code_;
    put32(b, 2, in.eax);
    put32(b, 6, in.ebx);
    put32(b, 10, in.ecx);
    put32(b, 14, in.edx);
    transport_(0xF1F82418u, b);
    if (b.size() != 18)
        return {};
    return Registers{get32(b, 2), get32(b, 6), get32(b, 10), get32(b, 14)};
}

std::vector<uint8_t> FirmwareClient::physicalRead(uint32_t address, uint32_t count)
{
    std::vector<uint8_t> b(1034, 0);
    put32(b, 0, address);
    b[4] = 0x00;
    b[5] = 0x01; // 256
    put32(b, 6, count);
    transport_(0xF1F82408u, b);
    return b;
}

int FirmwareClient::waitReady(int limit)
{
    for (int n = 1; n <= limit; ++n)
        if (call(0x00010000u, 0).eax & 1)
            return n;
    return 0;
}

int FirmwareClient::waitDone(uint8_t *value, int limit)
{
    for (int n = 1; n <= limit; ++n) {
        Registers r = call(0x00030000u, 0);
        if (r.eax & 1) {
            if (value)
                *value = uint8_t(r.ebx & 0xFF);
            return n;
        }
    }
    return 0;
}

bool FirmwareClient::read(uint8_t address, uint8_t reg, uint8_t &value)
{
    if (!waitReady())
        return false;
    call(0x00020100u + address, uint32_t(reg) << 8);
    return waitDone(&value) != 0;
}

bool FirmwareClient::write(uint8_t address, uint8_t reg, uint8_t value)
{
    if (!waitReady())
        return false;
    call(0x00020000u + address, uint32_t(reg) << 8 | value);
    return waitDone() != 0;
}

} // namespace halden::test
