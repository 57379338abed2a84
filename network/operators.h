#pragma once
// The server's operator accounts: who may log in from a client console, and with which security level. The
// table is read once at start-up, edited by the Clients dialog and read by every session's Login, so every
// access goes through the table's own lock.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brimlow {

constexpr const char* kOperatorsFile = "Operators.dat";
constexpr int kOperatorSlots = 100;
constexpr size_t kOperatorFieldLimit = 30;

enum SecurityLevel : int16_t { kReadOnly = 0, kReadWrite = 1, kReadWriteDelete = 2 };

// File and memory layout are the same: 64 bytes, little-endian.
struct OperatorRecord {
    char Name[31]; // empty: a free record
    char Password[31];
    int16_t Level;
};
static_assert(sizeof(OperatorRecord) == 64);
static_assert(offsetof(OperatorRecord, Password) == 31);
static_assert(offsetof(OperatorRecord, Level) == 62);

// "Read only", "Read / Write", "Read / Write / Delete".
const char* SecurityLevelName(int level);

class OperatorTable {
public:
    using Records = std::array<OperatorRecord, kOperatorSlots>;

    OperatorTable();

    // Zeroes the table, then reads up to 6,400 bytes of dataDir/Operators.dat, creating the file (owner read and
    // write) when it is missing. 0 when the file cannot be opened: the table then stays empty.
    int LoadOperators(const std::string& dataDir);
    // Writes the 6,400 bytes, replacing the file in one step. 1 when written.
    int SaveOperators(const std::string& dataDir) const;

    // 1 when a used record has this name and password, both compared without regard to case; a free record
    // never matches.
    int FindOperator(const std::string& name, const std::string& password) const;
    // Level of the first record, in table order, whose Name equals name without regard to case; 0 when none.
    int16_t OperatorLevel(const std::string& name) const;

    // The Login rule: the level of the first used record whose name and password match. With no account at
    // all, an empty name and an empty password log in read-only; otherwise nothing matches. A stored level
    // outside 0..2 logs in read-only.
    std::optional<int16_t> Authenticate(const std::string& name, const std::string& password) const;

    // Sorts the leading used records by Name without regard to case (the Clients list's order).
    void SortOperators();
    // Removes record k: k+1..99 move up one place and record 99 is zeroed. False when k is out of range.
    bool DeleteOperator(int k);
    // The first record with an empty Name, or -1 when all 100 are used.
    int FirstFreeOperator() const;
    bool HasAccounts() const;

    OperatorRecord Get(int k) const;
    // Stores name and password (each cut to 30 characters) and the level; a level other than 0..2 keeps the
    // record's level. False when k is out of range.
    bool Set(int k, const std::string& name, const std::string& password, int level);
    Records Snapshot() const;

private:
    mutable std::mutex m_mutex;
    Records m_records;
};

} // namespace brimlow
