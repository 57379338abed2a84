#include "network/operators.h"

#include "directory/data_files.h"
#include "directory/directory.h"
#include "directory/file_io.h"
#include "directory/records.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brimlow {

namespace {

bool SameNoCase(const char* a, const std::string& b) { return CompareNamesNoCase(a, b.c_str()) == 0; }

void Terminate(OperatorRecord& r) {
    r.Name[sizeof r.Name - 1] = '\0';
    r.Password[sizeof r.Password - 1] = '\0';
}

} // namespace

const char* SecurityLevelName(int level) {
    switch (level) {
    case kReadOnly: return "Read only";
    case kReadWrite: return "Read / Write";
    case kReadWriteDelete: return "Read / Write / Delete";
    default: return "";
    }
}

OperatorTable::OperatorTable() { memset(m_records.data(), 0, sizeof m_records); }

int OperatorTable::LoadOperators(const std::string& dataDir) {
    std::lock_guard lock(m_mutex);
    memset(m_records.data(), 0, sizeof m_records);
    int fd = open(JoinPath(dataDir, kOperatorsFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    ReadFully(fd, m_records.data(), sizeof m_records);
    close(fd);
    for (OperatorRecord& r : m_records)
        Terminate(r);
    return 1;
}

int OperatorTable::SaveOperators(const std::string& dataDir) const {
    Records copy = Snapshot();
    return ReplaceFileAtomically(dataDir, kOperatorsFile, copy.data(), sizeof copy) ? 1 : 0;
}

int OperatorTable::FindOperator(const std::string& name, const std::string& password) const {
    std::lock_guard lock(m_mutex);
    for (const OperatorRecord& r : m_records)
        if (r.Name[0] != '\0' && SameNoCase(r.Name, name) && SameNoCase(r.Password, password))
            return 1;
    return 0;
}

int16_t OperatorTable::OperatorLevel(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    for (const OperatorRecord& r : m_records)
        if (SameNoCase(r.Name, name))
            return r.Level;
    return 0;
}

std::optional<int16_t> OperatorTable::Authenticate(const std::string& name, const std::string& password) const {
    std::lock_guard lock(m_mutex);
    bool anyAccount = false;
    for (const OperatorRecord& r : m_records) {
        if (r.Name[0] == '\0')
            continue;
        anyAccount = true;
        // A level the dialog cannot set comes from a damaged file: it grants nothing, and the ">" reply
        // stays the three bytes a client reads.
        if (SameNoCase(r.Name, name) && SameNoCase(r.Password, password))
            return r.Level >= kReadOnly && r.Level <= kReadWriteDelete ? r.Level : static_cast<int16_t>(kReadOnly);
    }
    if (!anyAccount && name.empty() && password.empty())
        return static_cast<int16_t>(kReadOnly);
    return std::nullopt;
}

void OperatorTable::SortOperators() {
    std::lock_guard lock(m_mutex);
    auto end = std::find_if(m_records.begin(), m_records.end(), [](const OperatorRecord& r) { return !r.Name[0]; });
    std::stable_sort(m_records.begin(), end, [](const OperatorRecord& a, const OperatorRecord& b) {
        return CompareNamesNoCase(a.Name, b.Name) < 0;
    });
}

bool OperatorTable::DeleteOperator(int k) {
    if (k < 0 || k >= kOperatorSlots)
        return false;
    std::lock_guard lock(m_mutex);
    std::copy(m_records.begin() + k + 1, m_records.end(), m_records.begin() + k);
    memset(&m_records[kOperatorSlots - 1], 0, sizeof(OperatorRecord));
    return true;
}

int OperatorTable::FirstFreeOperator() const {
    std::lock_guard lock(m_mutex);
    for (int k = 0; k < kOperatorSlots; ++k)
        if (m_records[k].Name[0] == '\0')
            return k;
    return -1;
}

bool OperatorTable::HasAccounts() const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_records.begin(), m_records.end(), [](const OperatorRecord& r) { return r.Name[0]; });
}

OperatorRecord OperatorTable::Get(int k) const {
    OperatorRecord r{};
    if (k >= 0 && k < kOperatorSlots) {
        std::lock_guard lock(m_mutex);
        r = m_records[k];
    }
    return r;
}

bool OperatorTable::Set(int k, const std::string& name, const std::string& password, int level) {
    if (k < 0 || k >= kOperatorSlots)
        return false;
    std::lock_guard lock(m_mutex);
    OperatorRecord& r = m_records[k];
    SetText(r.Name, name.substr(0, kOperatorFieldLimit));
    SetText(r.Password, password.substr(0, kOperatorFieldLimit));
    if (level >= kReadOnly && level <= kReadWriteDelete)
        r.Level = static_cast<int16_t>(level);
    return true;
}

OperatorTable::Records OperatorTable::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}

} // namespace brimlow
