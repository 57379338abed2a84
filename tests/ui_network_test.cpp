// The real main window of a LAN client console against an in-process server on loopback: the Network tab.
#include "network/net_client.h"
#include "network/protocol.h"
#include "network/server.h"
#include "tests/lan_raw_client.h"
#include "tests/snpp_simulator.h"
#include "tests/ui_window_fixture.h"
#include "ui/edit_subscriber_dlg.h"
#include "ui/group_dlg.h"

namespace brimlow {

class NetworkWindowTest : public QObject {
    Q_OBJECT

    test::TestConsole serverSide; // drains the server's status lines as its window would
    test::SnppSimulator snpp{test::SnppScript{}};
    std::unique_ptr<lan::NetServer> server;
    std::unique_ptr<test::WindowHarness> h;

    template <typename F> auto OnServer(F read) {
        std::lock_guard lock(serverSide.console.databaseLock);
        return read(*serverSide.console.local);
    }
    int ServerSlot(const std::string& name) {
        return OnServer([&](Directory& dir) {
            for (int slot = 0; slot < UsedSubscriberSlots(dir); ++slot)
                if (GetText(dir.subscribers[slot].Name) == name)
                    return slot;
            return -1;
        });
    }
    // A client window logged in as user, on the Network tab once its start-up download has ended.
    bool OpenClient(const std::string& user) {
        h->tc.console.settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "127.0.0.1";
            s.Username = user;
            s.Password = "pw";
        });
        h->Open();
        if (!QTest::qWaitFor([&] { return h->tc.console.networkBusy == 0 && h->tc.console.netClient->Connected(); }))
            return false;
        h->SelectTab(kNetworkTab);
        return true;
    }

private slots:
    void init() {
        serverSide.console.local->Clear();
        Directory& dir = *serverSide.console.local;
        dir.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
        AddSubscriber(dir, test::MakeSubscriber("Alpha", 0, "71"));
        AddSubscriber(dir, test::MakeSubscriber("Beta", 0, "72"));
        test::AddGroup(dir, "Team", {"Alpha"});
        server = std::make_unique<lan::NetServer>(serverSide.console);
        server->Operators().Set(0, "ann", "pw", kReadWriteDelete);
        server->Operators().Set(1, "bob", "pw", kReadWrite);
        server->Operators().Set(2, "carl", "pw", kReadOnly);
        QVERIFY(server->Start(0));
        qputenv(lan::kLanPortEnv, QByteArray::number(server->Port()));
        h = std::make_unique<test::WindowHarness>();
        h->tc.console.local->companies[0] = test::MakeCompany("Own", "127.0.0.1", snpp.Port());
        AddSubscriber(*h->tc.console.local, test::MakeSubscriber("Local", 0, "55"));
    }
    void cleanup() {
        h.reset();
        server.reset();
        qunsetenv(lan::kLanPortEnv);
    }

    // With SendAllViaServer no page is queued locally, on either tab; the server delivers the Net Page.
    void networkTabAndPagesViaTheServer() {
        h->tc.console.settings.Update([](Settings& s) { s.SendViaServer = s.SendAllViaServer = 1; });
        QVERIFY(OpenClient("bob"));
        QTabBar* tabs = h->window->findChild<QTabBar*>();
        QCOMPARE(tabs->tabText(tabs->count() - 1) + " " + QString::number(tabs->count()), "Network 4");
        QCOMPARE(h->Rows(), QStringList({"Alpha", "Beta", "Team"}));
        QVERIFY(!h->Find("Queue")->isEnabled());
        h->Select({"Beta"});
        h->Type("Roll call");
        h->Click("Send");
        QTRY_COMPARE(snpp.Commands(), std::vector<std::string>({"PAGE 72", "DATA", "SEND", "QUIT"}));
        QTRY_VERIFY(
            !h->Find<QListWidget>("Result")->findItems("Message sent to server...", Qt::MatchExactly).isEmpty());
        QTRY_COMPARE(h->Counter("Sent"), "1");
        h->SelectTab(0);
        QCOMPARE(h->Rows(), QStringList({"Local"}));
        QVERIFY(!h->Find("Queue")->isEnabled());
    }

    // ann's session holds Beta's lock in the row "edit, locked by ann", whose message names her host as HOST.
    void refusalsOfTheNetworkTab_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("shown");
        auto row = [](const char* name, const char* user, const char* action, QString shown) {
            QTest::newRow(name) << QString(user) << QString(action) << shown;
        };
        const QString low = "Brimlow: Your network security level is too low to %1 a record.";
        row("add, read only", "carl", "Add", low.arg("add"));
        row("delete, read and write", "bob", "Delete", low.arg("delete"));
        row("edit, read only", "carl", "Edit", low.arg("edit"));
        row("edit, locked by ann", "bob", "Edit", "Brimlow: This record is locked by ann / HOST and cannot be edited!");
        row("edit, open on the server", "bob", "Edit",
            "Brimlow: This record is locked by *SERVER* and cannot be edited!");
        row("while connecting", "ann", "Add", "Brimlow: Network busy, please wait...");
    }
    void refusalsOfTheNetworkTab() {
        QFETCH(QString, user);
        QFETCH(QString, action);
        QFETCH(QString, shown);
        QVERIFY(OpenClient(user.toStdString()));
        test::RawClient ann(server->Port());
        if (shown.contains("*SERVER*")) // the server's operator has it open
            OnServer(
                [beta = ServerSlot("Beta")](Directory& dir) { dir.subscribers[beta].LockByte = kLockedByLocalEditor; });
        else if (shown.contains("locked")) {
            QCOMPARE(ann.Request(lan::EncodeLogin("ann", "pw"), 3), "1\r\n");
            QCOMPARE(ann.Request(lan::EncodeIndex(lan::Request::LockRecord, ServerSlot("Beta")), 3), "1\r\n");
            for (const lan::SessionView& session : server->Sessions())
                if (session.userName == "ann")
                    shown.replace("HOST", QString::fromStdString(session.host));
        }
        h->tc.console.networkBusy = shown.contains("busy") ? 1 : 0;
        h->Select({"Beta"});
        if (action == "Edit")
            h->DoubleClickSelected();
        else
            QTest::keyClick(h->List(), action == "Add" ? Qt::Key_Insert : Qt::Key_Delete);
        h->tc.console.networkBusy = 0;
        QCOMPARE(h->TakeShown().join(""), shown);
        QCOMPARE(ServerSlot("Beta"), 1);
    }

    // An edit holds the server's lock while open; a new group goes through the scratch slot into a free one.
    void editsReachTheServer() {
        QVERIFY(OpenClient("ann"));
        const int beta = ServerSlot("Beta");
        int lockWhileOpen = 0;
        QString shown; // the server's providers, and no tab to move a network record to
        test::WhenModal<CEditSubscriberDlg>([&](CEditSubscriberDlg& dialog) {
            lockWhileOpen = OnServer([&](Directory& dir) { return dir.subscribers[beta].LockByte; });
            shown = test::Field<QComboBox>(dialog, "Paging company")->currentText();
            for (QRadioButton* tab : dialog.findChildren<QRadioButton*>())
                shown += tab->isEnabled() ? " enabled" : "";
            test::Field<QLineEdit>(dialog, "PIN")->setText("7272");
            dialog.accept();
        });
        h->Select({"Beta"});
        h->DoubleClickSelected();
        QVERIFY(lockWhileOpen != 0);
        QCOMPARE(shown, "Metro");
        SubscriberRecord written = OnServer([&](Directory& dir) { return dir.subscribers[beta]; });
        QCOMPARE(GetText(written.PIN) + " unlocked " + std::to_string(written.LockByte == 0), "7272 unlocked 1");
        h->op.QueueAnswer(true);
        test::WhenModal<CGroupDlg>([](CGroupDlg& dialog) {
            test::Field<QLineEdit>(dialog, "Group Name")->setText("Crew");
            test::Field<QListWidget>(dialog, "Subscribers")->item(1)->setSelected(true);
            dialog.AddMember();
            dialog.accept();
        });
        h->Click("Add");
        const int crew = ServerSlot("Crew");
        QVERIFY(crew >= 0);
        GroupRecord group = OnServer([&](Directory& dir) { return dir.groups[GroupNumberOf(dir.subscribers[crew])]; });
        QCOMPARE(GetText(group.Members[0]), "Beta");
        h->Select({"Alpha"});
        h->op.QueueAnswer(true);
        QTest::keyClick(h->List(), Qt::Key_Delete);
        QCOMPARE(h->TakeShown(),
                 QStringList({"Brimlow: Should this be a group?", "Brimlow: Delete this network subscriber?\nAlpha"}));
        QCOMPARE(ServerSlot("Alpha"), -1);
        QTRY_COMPARE(h->Rows(), QStringList({"Beta", "Crew", "Team"}));
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::NetworkWindowTest)
#include "ui_network_test.moc"
