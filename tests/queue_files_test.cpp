// Queue files: their unique names, the queue writers' files byte for byte, and pages that appear only whole.
#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/queue_count.h"
#include "queue/queue_writer.h"
#include "queue/unique_name.h"
#include "tests/support/test_console.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brimlow {
namespace {

using test::FileExists;
using test::ListDir;
using test::ReadFile;

// This process and another write at once; each file keeps what its writer wrote.
TEST(UniqueName, NoTwoWritersEverTakeTheSameName) {
    test::TempDir dir;
    auto write = [&](const std::string& tag) {
        Console console;
        console.dataDir = dir.Path();
        std::vector<std::string> names;
        for (int i = 0; i < 300; ++i) {
            std::string path = JoinPath(console.dataDir, "MSGXXXXXXXXX");
            if (WriteUniqueFile(console, path, tag + std::to_string(i)))
                names.push_back(path);
        }
        return names;
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(write("child-").size() == 300 ? 0 : 1);
    std::vector<std::string> made = write("parent-");
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ListDir(dir.Path()).size(), 600u);
    ASSERT_EQ(made.size(), 300u);
    for (size_t k = 0; k < made.size(); ++k)
        EXPECT_EQ(ReadFile(made[k]), "parent-" + std::to_string(k)) << "taken over";
}

class QueueWriterTest : public ::testing::Test {
protected:
    Directory& local() { return *t.console.local; }
    static ComposedPage Page(SendMode mode, const std::string& message = "Call the desk") {
        return {message, "", false, mode, 0};
    }
    int SlotOf(Directory& dir, const std::string& name) {
        for (int i = 0; i < kSubscriberSlots; ++i)
            if (GetText(dir.subscribers[i].Name) == name)
                return i;
        return -1;
    }

    test::TestConsole t;
};

// The signature follows the message, and the whole is cut to 1,009 characters.
TEST_F(QueueWriterTest, NetPageWritesRootMessageFilesOfTheFixedSize) {
    AddSubscriber(local(), test::MakeSubscriber("Ann", 4, "555"));
    ASSERT_TRUE(QueueForSubscriber(t.console, Page(SendMode::NetPage), 0));
    SetText(t.console.signature.Text, std::string(100, 's'));
    ComposedPage page = Page(SendMode::NetPage, std::string(1200, 'm'));
    page.attachSignature = true;
    ASSERT_TRUE(QueueForSubscriber(t.console, page, 0));
    const std::string record = test::RecordBytes(local().subscribers[0]); // 536 bytes, then 1,010 of text
    EXPECT_EQ(ReadFile(t.DataFile("MSGAAAAA.AAA")), record + "Call the desk" + std::string(1010 - 13, '\0'));
    EXPECT_EQ(ReadFile(t.DataFile("MSGAAAAA.AAB")), record + std::string(999, 'm') + std::string(10, 's') + '\0');
    EXPECT_NE(ReadFile(t.DataFile("Messages.LOG")).find(" Ann Msg: Call the desk\r\n\r\n"), std::string::npos);
}

// Queue refuses an empty message or selection; items resolve on their tab, Network-tab groups on its directory.
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
    EXPECT_EQ(ResolveListItem(t.console, 1, 2), -1);
    EXPECT_EQ(Queue(t.console, page, {1}), 1);
    EXPECT_EQ(ListDir(t.DataFile("2")).size(), 1u);
    EXPECT_FALSE(FileExists(t.DataFile("1")));

    Directory& net = *t.console.network;
    AddSubscriber(net, test::MakeSubscriber("Remote", 7, "77", 3));
    test::AddGroup(net, "RemoteGroup", {"Remote"}, 3);
    AddSubscriber(local(), test::MakeSubscriber("Remote", 9, "11")); // not the one to page
    page.currentTab = kNetworkTab;
    ASSERT_TRUE(QueueForSubscriber(t.console, page, SlotOf(net, "RemoteGroup")));
    std::vector<std::string> files = ListDir(t.DataFile("7"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(GetText(ReadMessageFile(t.DataFile("7/" + files[0]))->record.PIN), "77");
    EXPECT_FALSE(FileExists(t.DataFile("9")));
}

// A queue file that cannot be created ends the operation; a packet failure is per member.
TEST_F(QueueWriterTest, WhatCannotBeWrittenIsReported) {
    AddSubscriber(local(), test::MakeSubscriber("Desk A", 5));
    AddSubscriber(local(), test::MakeSubscriber("Desk A", 6));
    AddSubscriber(local(), test::MakeSubscriber("Odd", 150));
    test::AddGroup(local(), "G", {"Desk A"});
    test::WriteFile(t.DataFile("5"), "a file where the folder should be");
    EXPECT_FALSE(QueueForSubscriber(t.console, Page(SendMode::Page), SlotOf(local(), "G")));
    EXPECT_EQ(t.op.MessageTexts(), (std::vector<std::string>{kQueueFileError}));
    EXPECT_FALSE(FileExists(t.DataFile("6"))) << "the remaining members are not queued";
    EXPECT_FALSE(QueueForSubscriber(t.console, Page(SendMode::Page), SlotOf(local(), "Odd")));
    EXPECT_EQ(WriteDirectPage(t.console, SlotOf(local(), "Odd"), "x"), 0);
    EXPECT_FALSE(FileExists(t.DataFile("150")));
    t.console.dataDir = t.dir.File("missing");
    EXPECT_TRUE(QueueForSubscriber(t.console, Page(SendMode::Email), SlotOf(local(), "G")));
    EXPECT_EQ(t.op.MessageTexts(),
              (std::vector<std::string>{kQueueFileError, kQueueFileError, kSendError, kSendError}));
    EXPECT_TRUE(t.WaitForStatus("Please make sure that the queue directory exists!"));
}

// A running call may list the folder at any moment: a page appears under its ready name only whole.
TEST(ReadyPageTest, ThePagesTheServerWritesAppearUnderTheirNamesOnlyWhole) {
    test::TestConsole tc;
    int slot = AddSubscriber(*tc.console.local, test::MakeSubscriber("Desk S", 4, "31"));
    const std::string own = tc.dir.File("4");
    const std::string client = test::WriteQueueEntry(tc.dir.Path(), "north", 4, {});
    mkdir(own.c_str(), 0700);
    test::FolderWatch watch({own, client});
    ASSERT_EQ(WriteDirectPage(tc.console, slot, "own page"), 1);
    ASSERT_EQ(WriteServerIntake(tc.console, "north", test::MakeCompany("North Relay"),
                                test::MakeSubscriber("Desk N", 4, "32"), "client page"),
              1);
    test::FolderWatch::Seen seen = watch.Take();
    for (const std::string& name : seen.writtenAs)
        EXPECT_FALSE(name.starts_with("MSG")) << name << " was written under its ready name";
    EXPECT_THAT(seen.renamedTo, ::testing::ElementsAre("MSGAAAAA.AAA", "MSGAAAAA.AAA"));
    struct stat st {};
    ASSERT_EQ(stat(JoinPath(own, "MSGAAAAA.AAA").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadMessageFile(JoinPath(own, "MSGAAAAA.AAA"))->text, "own page");
}

// Counters carry through every place (the command-line tests see .AAA, then .AAB); lower-case names count too.
TEST(QueueNames, TheCounterCarriesAndLowerCaseNamesCount) {
    std::array<char, 8> counter = {'A', 'A', 'A', 'A', 'Z', 'Z', 'Z', 'Z'};
    AdvanceNameCounter(counter);
    EXPECT_EQ(std::string(counter.data(), 8), "AAABAAAA");
    test::TempDir d;
    test::WriteFile(d.File("msgAAAAA.AAA"), "x");
    test::WriteFile(d.File("emgAAAAA.AAA"), "x");
    EXPECT_EQ(CountQueue(d.Path()).queueCount, 2);
}

} // namespace
} // namespace brimlow
