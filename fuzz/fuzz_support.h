#pragma once
// What the fuzz targets share: reading an input field by field, and a scratch folder of the process's own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace brimlow::fuzz {

// Takes the input from the front: numbers of a few bytes, then texts up to a separator byte.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_rest(reinterpret_cast<const char*>(data), size) {}
    uint64_t Number(size_t bytes) {
        uint64_t value = 0;
        for (size_t k = 0; k < bytes && !m_rest.empty(); ++k) {
            value = value << 8 | static_cast<uint8_t>(m_rest.front());
            m_rest.remove_prefix(1);
        }
        return value;
    }
    // The bytes up to the next separator (0xFF), which is dropped.
    std::string Text() {
        size_t end = m_rest.find('\xff');
        std::string text(m_rest.substr(0, end));
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        return text;
    }
    std::string_view Rest() const { return m_rest; }

private:
    std::string_view m_rest;
};

// A folder for this process, made once: in memory where there is a tmpfs, so that the saves' fsync costs nothing.
inline const std::string& ScratchFolder() {
    // Never destroyed, so that it is still there when the removal at exit runs.
    static const std::string& folder = *[] {
        auto* name = new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/brimlow-fuzz-XXXXXX"
                                                                   : "/tmp/brimlow-fuzz-XXXXXX");
        if (!mkdtemp(name->data()))
            abort();
        return name;
    }();
    static const bool removedAtExit = std::atexit([] { std::filesystem::remove_all(ScratchFolder()); }) == 0;
    (void)removedAtExit;
    return folder;
}

// Fails loudly, so that libFuzzer keeps the input that broke a property.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            __builtin_trap();                                                                                          \
    } while (false)

} // namespace brimlow::fuzz
