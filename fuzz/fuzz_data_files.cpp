// The files the console reads back: the five data files, Operators.dat and a queued page. Whatever they hold
// (short, long, the older group layout), loading ends, and what was loaded survives a save and a second load.
#include "directory/data_files.h"
#include "directory/file_io.h"
#include "fuzz/fuzz_support.h"
#include "network/operators.h"
#include "queue/message_file.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

using namespace brimlow;

struct Loaded {
    std::unique_ptr<Directory> dir = Directory::Create();
    ModemSettings modem{};
    Signature signature{};
    OperatorTable operators;

    void Load(const std::string& folder) {
        LoadDirectoryFiles(folder, *dir, modem);
        LoadCompanyFile(folder, *dir);
        LoadSignatureFile(folder, signature);
        operators.LoadOperators(folder);
    }
};

constexpr const char* kFiles[] = {kSubscriberFile, kGroupFile,      kModemFile,    kCompanyFile,
                                  kSignatureFile,  "Operators.dat", "MSGAAAAA.AAA"};

} // namespace

// The first byte picks the file the rest becomes; a GROUP.DAT of the older layout is made when the second says
// so, the rest repeated to its 81,000 bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    size_t pick = input.Number(1) % std::size(kFiles);
    bool olderGroups = input.Number(1) == 0x81;
    std::string bytes(input.Rest());
    if (olderGroups) {
        std::string older(kEarlierGroupFileSize, '\0');
        for (size_t k = 0; !bytes.empty() && k < older.size(); ++k)
            older[k] = bytes[k % bytes.size()];
        bytes = older;
        pick = 1;
    }
    const std::string folder = JoinPath(fuzz::ScratchFolder(), "data");
    mkdir(folder.c_str(), 0700);
    for (const char* name : kFiles)
        unlink(JoinPath(folder, name).c_str());
    std::string path = JoinPath(folder, kFiles[pick]);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0 && WriteFully(fd, bytes.data(), bytes.size()));
    close(fd);

    if (std::optional<MessageFile> page = ReadMessageFile(path))
        FUZZ_CHECK(page->text.size() <= kMessageTextSize && page->text.find('\0') == std::string::npos);

    static Loaded first, second; // made once: fresh tables each time would cost the run in page faults
    first.Load(folder);
    for (const SubscriberRecord& s : first.dir->subscribers)
        FUZZ_CHECK(s.LockByte == 0 && s.Tab <= 2);
    FUZZ_CHECK(SaveDataFiles(folder, *first.dir, first.modem, first.signature).empty());
    FUZZ_CHECK(first.operators.SaveOperators(folder) == 1);
    second.Load(folder);
    FUZZ_CHECK(memcmp(first.dir.get(), second.dir.get(), sizeof(Directory)) == 0);
    FUZZ_CHECK(memcmp(&first.modem, &second.modem, sizeof first.modem) == 0);
    FUZZ_CHECK(memcmp(&first.signature, &second.signature, sizeof first.signature) == 0);
    OperatorTable::Records a = first.operators.Snapshot(), b = second.operators.Snapshot();
    FUZZ_CHECK(memcmp(a.data(), b.data(), sizeof a) == 0);
    return 0;
}
