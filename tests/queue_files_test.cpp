#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/queue_count.h"
#include "queue/queue_writer.h"
#include "queue/unique_name.h"
#include "tests/support/test_console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

using test::FileExists;
using test::ListDir;
using test::ReadFile;

TEST(UniqueName, HandsOutTheCounterMovingOnOnlyPastNamesThatExist) {
    test::TestConsole t(false);
    auto next = [&](const std::string& name = "MSGXXXXXXXXX") {
        std::string path = t.dir.File(name);
        EXPECT_TRUE(MakeUniqueName(t.console, path)) << name;
        return path.substr(path.rfind('/') + 1);
    };
    EXPECT_EQ(next(), "MSGAAAAA.AAA");
    EXPECT_EQ(next(), "MSGAAAAA.AAA");
    test::WriteFile(t.dir.File("MSGAAAAA.AAA"), "x");
    EXPECT_EQ(next(), "MSGAAAAA.AAB");
    // A page put back after a failed try takes a name past every one handed out, and keeps its age.
    std::string back = t.dir.File("MSGXXXXXXXXX");
    ASSERT_TRUE(PutBackUniqueFile(t.console, back, "page", 1000000000));
    EXPECT_EQ(back, t.dir.File("MSGAAAAA.AAC"));
    EXPECT_EQ(ReadFile(back), "page");
    struct stat st{};
    ASSERT_EQ(stat(back.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
    // After the last name the counter starts again.
    t.console.uniqueNameCounter = {'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
    test::WriteFile(t.dir.File("EMGZZZZZ.ZZZ"), "taken");
    EXPECT_EQ(next("EMGXXXXXXXXX"), "EMGAAAAA.AAA");
    for (std::string path : {std::string("MSGXXXXXXXX"), std::string("XXXXXXXX"), std::string("MSGXXXXXXXXY")}) {
        std::string before = path;
        EXPECT_FALSE(MakeUniqueName(t.console, path));
        EXPECT_FALSE(WriteUniqueFile(t.console, path, "x"));
        EXPECT_EQ(path, before);
    }
}

TEST(UniqueName, CounterCarriesInBase26) {
    const std::pair<const char*, const char*> cases[] = {
        {"AAAAAAAZ", "AAAAAABA"}, {"AAAAZZZZ", "AAABAAAA"}, {"ZZZZZZZZ", "AAAAAAAA"}};
    for (const auto& [from, to] : cases) {
        std::array<char, 8> counter;
        std::copy_n(from, 8, counter.begin());
        AdvanceNameCounter(counter);
        EXPECT_EQ(std::string(counter.data(), 8), to);
    }
}

// Creates count files and writes the writer's tag into each; returns the names.
std::vector<std::string> CreateTagged(Console& console, int count, const std::string& tag) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        std::string path = JoinPath(console.dataDir, "MSGXXXXXXXXX");
        if (!WriteUniqueFile(console, path, tag + std::to_string(i)))
            break;
        names.push_back(path);
    }
    return names;
}

// Two threads of this process and another process write at once; each file keeps what its writer wrote.
TEST(UniqueName, NoTwoWritersEverTakeTheSameName) {
    test::TempDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Console console;
        console.dataDir = dir.Path();
        _exit(CreateTagged(console, 200, "child-").size() == 200 ? 0 : 1);
    }
    Console console;
    console.dataDir = dir.Path();
    std::vector<std::string> made[2];
    std::thread other([&] { made[1] = CreateTagged(console, 200, "t1-"); });
    made[0] = CreateTagged(console, 200, "t0-");
    other.join();
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ListDir(dir.Path()).size(), 600u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(made[i].size(), 200u);
        for (size_t k = 0; k < made[i].size(); ++k)
            EXPECT_EQ(ReadFile(made[i][k]), "t" + std::to_string(i) + "-" + std::to_string(k)) << "taken over";
    }
}

class QueueWriterTest : public ::testing::Test {
protected:
    test::TestConsole t;
    Directory& local() { return *t.console.local; }
    ComposedPage Page(SendMode mode, const std::string& message = "Call the desk") {
        ComposedPage page;
        page.message = message;
        page.mode = mode;
        return page;
    }
    int SlotOf(Directory& dir, const std::string& name) {
        for (int i = 0; i < kSubscriberSlots; ++i)
            if (GetText(dir.subscribers[i].Name) == name)
                return i;
        return -1;
    }
};

// The signature follows the message, and the whole is cut to 1,009 characters.
TEST_F(QueueWriterTest, NetPageWritesRootMessageFilesOfTheFixedSize) {
    AddSubscriber(local(), test::MakeSubscriber("Ann", 4, "555"));
    ASSERT_TRUE(QueueForSubscriber(t.console, Page(SendMode::NetPage), 0));
    SetText(t.console.signature.Text, std::string(100, 's'));
    ComposedPage page = Page(SendMode::NetPage, std::string(1200, 'm'));
    page.attachSignature = true;
    ASSERT_TRUE(QueueForSubscriber(t.console, page, 0));
    std::string first = ReadFile(t.DataFile("MSGAAAAA.AAA"));
    ASSERT_EQ(first.size(), 1546u);
    EXPECT_EQ(memcmp(first.data(), &local().subscribers[0], 536), 0);
    EXPECT_EQ(first.substr(536), std::string("Call the desk") + std::string(1546 - 549, '\0'));
    std::string second = ReadFile(t.DataFile("MSGAAAAA.AAB"));
    ASSERT_EQ(second.size(), 1546u);
    EXPECT_EQ(second.substr(536), std::string(999, 'm') + std::string(10, 's') + '\0');
    std::string log = ReadFile(t.DataFile("Messages.LOG"));
    EXPECT_NE(log.find(" Ann Msg: Call the desk\r\n\r\n"), std::string::npos) << log;
}

TEST_F(QueueWriterTest, NetworkTabExpandsWithTheNetworkDirectory) {
    Directory& net = *t.console.network;
    AddSubscriber(net, test::MakeSubscriber("Remote", 2, "77", 3));
    test::AddGroup(net, "RemoteGroup", {"Remote"}, 3);
    AddSubscriber(local(), test::MakeSubscriber("Remote", 9, "11")); // not the one to page
    ComposedPage page = Page(SendMode::Page);
    page.currentTab = kNetworkTab;
    ASSERT_TRUE(QueueForSubscriber(t.console, page, SlotOf(net, "RemoteGroup")));
    std::vector<std::string> files = ListDir(t.DataFile("2"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(GetText(ReadMessageFile(t.DataFile("2/" + files[0]))->record.PIN), "77");
    EXPECT_FALSE(FileExists(t.DataFile("9")));
}

TEST_F(QueueWriterTest, QueueChecksMessageAndSelectionAndResolvesItemsPerTab) {
    EXPECT_EQ(Queue(t.console, Page(SendMode::NetPage, ""), {0}), 0);
    EXPECT_EQ(Queue(t.console, Page(SendMode::NetPage), {}), 0);
    EXPECT_EQ(t.op.MessageTexts(), (std::vector<std::string>{kNoMessageError, kNoSelectionError}));
    EXPECT_FALSE(FileExists(t.DataFile("Messages.LOG")));

    AddSubscriber(local(), test::MakeSubscriber("A0", 0, "1", 0));
    AddSubscriber(local(), test::MakeSubscriber("B1", 1, "2", 1));
    AddSubscriber(local(), test::MakeSubscriber("C1", 2, "3", 1));
    ComposedPage page = Page(SendMode::Page);
    page.currentTab = 1;
    EXPECT_EQ(ResolveListItem(t.console, 1, 1), 2);
    EXPECT_EQ(ResolveListItem(t.console, 1, 2), -1);
    EXPECT_EQ(Queue(t.console, page, {1}), 1);
    EXPECT_EQ(ListDir(t.DataFile("2")).size(), 1u);
    EXPECT_FALSE(FileExists(t.DataFile("1")));
}

// A queue file that cannot be created ends the whole operation; a packet that cannot be written is reported per
// member and the others still go.
TEST_F(QueueWriterTest, WhatCannotBeWrittenIsReported) {
    AddSubscriber(local(), test::MakeSubscriber("Desk A", 5));
    AddSubscriber(local(), test::MakeSubscriber("Desk A", 6));
    test::AddGroup(local(), "G", {"Desk A"});
    test::WriteFile(t.DataFile("5"), "a file where the folder should be");
    EXPECT_FALSE(QueueForSubscriber(t.console, Page(SendMode::Page), SlotOf(local(), "G")));
    EXPECT_EQ(t.op.MessageTexts(), (std::vector<std::string>{kQueueFileError}));
    EXPECT_FALSE(FileExists(t.DataFile("6"))) << "the remaining members are not queued";
    t.console.dataDir = t.dir.File("missing");
    EXPECT_TRUE(QueueForSubscriber(t.console, Page(SendMode::Email), SlotOf(local(), "G")));
    EXPECT_EQ(t.op.MessageTexts(), (std::vector<std::string>{kQueueFileError, kSendError, kSendError}));
}

// A company number out of range is never used as a folder.
TEST_F(QueueWriterTest, DirectPageIsReadyAtOnce) {
    AddSubscriber(local(), test::MakeSubscriber("Ann", 3, "42"));
    AddSubscriber(local(), test::MakeSubscriber("Odd", 150));
    EXPECT_FALSE(QueueForSubscriber(t.console, Page(SendMode::Page), 1));
    EXPECT_EQ(WriteDirectPage(t.console, 1, "x"), 0);
    EXPECT_EQ(WriteDirectPage(t.console, 2000, "x"), 0);
    EXPECT_FALSE(FileExists(t.DataFile("150")));
    ASSERT_EQ(WriteDirectPage(t.console, 0, "server page"), 1);
    std::vector<std::string> files = ListDir(t.DataFile("3"));
    ASSERT_EQ(files, (std::vector<std::string>{"MSGAAAAA.AAA"}));
    std::optional<MessageFile> file = ReadMessageFile(t.DataFile("3/MSGAAAAA.AAA"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->text, "server page");
    EXPECT_EQ(ReadFile(t.DataFile("3/MSGAAAAA.AAA")).size(), 1546u);
}

TEST_F(QueueWriterTest, ServerIntakeWritesCompanyAndAnUnterminatedNetworkFile) {
    CompanyRecord company = test::MakeCompany("Their Co", "", 444);
    SetText(company.Phone, "5551212");
    SubscriberRecord sub = test::MakeSubscriber("Field Tech", 4, "8080");
    ASSERT_EQ(WriteServerIntake(t.console, "north", company, sub, "hello there"), 1);
    std::string companyBytes = ReadFile(t.DataFile("Queue/north/4/Company.dat"));
    ASSERT_EQ(companyBytes.size(), 758u);
    EXPECT_EQ(memcmp(companyBytes.data(), &company, 758), 0);
    std::vector<std::string> files = ListDir(t.DataFile("Queue/north/4"));
    ASSERT_EQ(files.size(), 2u);
    std::string message = ReadFile(t.DataFile("Queue/north/4/MSGAAAAA.AAA"));
    EXPECT_EQ(message.size(), 536u + 11u);
    EXPECT_EQ(message.substr(536), "hello there");
    EXPECT_EQ(ReadMessageFile(t.DataFile("Queue/north/4/MSGAAAAA.AAA"), 1001)->text, "hello there");
    // A user name that would leave the Queue folder is refused or made safe.
    EXPECT_EQ(WriteServerIntake(t.console, "..", company, sub, "x"), 0);
    EXPECT_EQ(WriteServerIntake(t.console, "", company, sub, "x"), 0);
    ASSERT_EQ(WriteServerIntake(t.console, "../../etc", company, sub, "x"), 1);
    EXPECT_TRUE(FileExists(t.DataFile("Queue/.. .. etc/4/Company.dat")));
    sub.Company = -3;
    EXPECT_EQ(WriteServerIntake(t.console, "north", company, sub, "x"), 0);
}

TEST(QueueCount, CountsEveryFolderAndChoosesAsTheScanDoes) {
    test::TempDir d;
    auto touch = [&](const std::string& rel) {
        std::string path = d.File(rel);
        for (size_t slash = path.find('/', d.Path().size() + 1); slash != std::string::npos;
             slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0700);
        test::WriteFile(path, "x");
    };
    touch("MSGAAAAA.AAA");
    touch("emgAAAAA.AAA");
    touch("2/MSGAAAAA.AAA");
    touch("9/MSQAAAAA.AAA");
    touch("4/notqueued.txt");
    touch("Queue/north/5/MSGAAAAA.AAA");
    touch("Queue/north/5/Company.dat");
    QueueCounts c = CountQueue(d.Path());
    EXPECT_EQ(c.queueCount, 5);
    EXPECT_EQ(c.pendingModem, 2);
    EXPECT_EQ(c.chosenCompany, 2) << "the highest folder holding a ready page";
    EXPECT_EQ(c.chosenEntry, "north");
    EXPECT_EQ(c.chosenEntryCompany, 5);
}

} // namespace
} // namespace brimlow
