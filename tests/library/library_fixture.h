#pragma once
// Fresh library state and a fresh fake board for every test case.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/library_state.h"
#include "fake_platform.h"
#include "orvel.h"

namespace orvel::test {

// One SMBus transaction as the library started it.
struct Transaction {
    bool read;
    uint8_t address;
    uint8_t reg;
    uint8_t data;
    bool operator==(const Transaction &o) const
    {
        return read == o.read && address == o.address && reg == o.reg && (read || data == o.data);
    }
};
std::ostream &operator<<(std::ostream &out, const Transaction &t);

inline Transaction rd(uint8_t reg, uint8_t address = 0xAE) { return {true, address, reg, 0}; }
inline Transaction wr(uint8_t reg, uint8_t data, uint8_t address = 0xAE) { return {false, address, reg, data}; }

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FakePlatform &fake() { return FakePlatform::instance(); }
    kmui::Board &board() { return fake().board(); }
    // A new board with these settings (before opening, or to swap it under an open session).
    void useBoard(const kmui::BoardConfig &config) { fake().reset(config); }
    // Opens and verifies, then forgets what that took, so a test sees only its own requests.
    void openVerified();
    void clearRecords();
    // The transactions started so far, in order.
    std::vector<Transaction> transactions() const;
};

} // namespace orvel::test
