// The real main window on a local data directory: start-up, the page controls, Send in each mode against real
// peers, the list and its editors, the Result list, keys and exit, and a server console's edit lock.
#include "network/protocol.h"
#include "network/server.h"
#include "queue/logs.h"
#include "queue/queue_writer.h"
#include "queue/status.h"
#include "tests/lan_raw_client.h"
#include "tests/snpp_simulator.h"
#include "tests/support/line_peer.h"
#include "tests/support/peer_process.h"
#include "tests/ui_window_fixture.h"
#include "transports/smtp.h"
#include "ui/about_dlg.h"
#include "ui/edit_signature_dlg.h"
#include "ui/edit_subscriber_dlg.h"
#include "ui/group_dlg.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QSignalSpy>

namespace brimlow {

using test::WhenModal;

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void Open(const QUrl& url) { urls << url.toString(); }
    QStringList urls;
};

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::WindowHarness> h;
    std::unique_ptr<test::SnppSimulator> snpp;

    Directory& Local() { return *h->tc.console.local; }
    int Slot(const char* name) {
        for (int slot = 0; slot < UsedSubscriberSlots(Local()); ++slot)
            if (GetText(Local().subscribers[slot].Name) == name)
                return slot;
        return -1;
    }

private slots:
    void init() {
        h = std::make_unique<test::WindowHarness>();
        snpp = std::make_unique<test::SnppSimulator>(test::SnppScript{});
        Directory& dir = Local();
        dir.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp->Port());
        SubscriberRecord ann = test::MakeSubscriber("Ann", 0, "11");
        SetText(ann.Email, "ann@example.net");
        AddSubscriber(dir, ann);
        AddSubscriber(dir, test::MakeSubscriber("bob", 0, "22"));
        AddSubscriber(dir, test::MakeSubscriber("Second tab", 0, "33", 1));
        test::AddGroup(dir, "Desks", {"Ann", "bob"});
        test::AddGroup(dir, "Nobody", {"Zed"});
    }
    void cleanup() {
        h.reset();
        snpp.reset();
    }

    void startsWithTheControlsAsInitialised() {
        h->tc.console.settings.Update([](Settings& s) {
            s.Tab2 = "Night";
            s.SendViaServer = 1; // cleared: a console without networking sends nothing via a server
        });
        h->tc.console.signature.Attach = 1;
        h->tc.console.sentPages = 7;
        CMainDlg& window = h->Open();
        QCOMPARE(window.windowTitle(), QString("Brimlow - Quillfen Labs"));
        QTabBar* tabs = window.findChild<QTabBar*>();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(1), QString("Night"));
        QCOMPARE(h->Rows(), QStringList({"Ann", "bob", "Desks", "Nobody"}));
        QVERIFY(!h->Find("Subject")->isEnabled());
        QCOMPARE(h->Find<QAbstractButton>("Net Page")->text(), QString("Net Page"));
        QVERIFY(h->Find<QCheckBox>("Attach Signature")->isChecked());
        QCOMPARE(h->tc.console.settings.Get().SendViaServer, 0);
        // Every value a screen reader needs has its name, and the counters read as numbers.
        for (const char* name : {"Subject", "Message", "Length", "Sent", "Rejected", "Queue", "Subscribers", "Result"})
            QVERIFY2(h->Find(name), name);
        QTRY_COMPARE(h->Counter("Sent"), QString("0"));
        // Every control stays whole and inside the window from its smallest size up; BRIMLOW_SCREENSHOT names a
        // PNG to keep the look of the full-size window in.
        for (QSize size : {window.minimumSizeHint(), QSize(1400, 900), QSize(980, 680)}) {
            window.resize(size);
            QApplication::processEvents();
            for (QWidget* control : window.findChildren<QWidget*>()) {
                QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
                if (!control->accessibleName().isEmpty() && control->isVisibleTo(&window))
                    QVERIFY2(window.rect().contains(inWindow) && !inWindow.isEmpty(),
                             qPrintable(control->accessibleName()));
            }
        }
        if (QString path = qEnvironmentVariable("BRIMLOW_SCREENSHOT"); !path.isEmpty())
            QVERIFY(window.grab().save(path));
    }

    void sendModeButtonCyclesAndEnablesTheSubjectOnlyForEmail() {
        h->Open();
        QAbstractButton* mode = h->Find<QAbstractButton>("Net Page");
        for (const char* caption : {"Page", "Email", "Net Page", "Page"}) {
            mode->click();
            QCOMPARE(mode->text(), QString(caption));
            QCOMPARE(h->Find("Subject")->isEnabled(), QString(caption) == "Email");
        }
        QCOMPARE(h->tc.console.sendMode.load(), static_cast<int>(SendMode::Page));
    }

    void lengthBoxCountsTheSignatureOnlyWithAMessage_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("attach");
        QTest::addColumn<QString>("length");
        QTest::newRow("empty, signature attached") << "" << true << "0";
        QTest::newRow("message alone") << "Hello" << false << "5";
        QTest::newRow("message and signature") << "Hello" << true << "11";
        QTest::newRow("cut at 999") << QString(1200, 'x') << false << "999";
    }
    void lengthBoxCountsTheSignatureOnlyWithAMessage() {
        QFETCH(QString, message);
        QFETCH(bool, attach);
        QFETCH(QString, length);
        SetText(h->tc.console.signature.Text, " --sig");
        h->Open();
        h->Find<QCheckBox>("Attach Signature")->setChecked(attach);
        h->Type(message);
        QCOMPARE(h->Counter("Length"), length);
        QCOMPARE(h->tc.console.signature.Attach, attach ? 1 : 0);
    }

    // Edit hands the signature to its editor and takes back what OK keeps; the About box hangs off the menu.
    void signatureEditorAndAboutBoxOpenFromTheWindow() {
        CMainDlg& window = h->Open();
        h->Find<QCheckBox>("Attach Signature")->setChecked(true);
        h->Type("Hi");
        WhenModal<CEditSignatureDlg>([](CEditSignatureDlg& dialog) {
            dialog.findChild<QPlainTextEdit*>()->setPlainText(" -- Desk 4");
            dialog.accept();
        });
        h->Click("Edit");
        QCOMPARE(GetText(h->tc.console.signature.Text), std::string(" -- Desk 4"));
        QCOMPARE(h->Counter("Length"), QString("12"));
        bool shown = false;
        WhenModal<CAboutDlg>([&](CAboutDlg& about) {
            shown = true;
            about.accept();
        });
        for (QAction* action : window.findChildren<QAction*>())
            if (action->text() == "&About Brimlow")
                action->trigger();
        QVERIFY(shown);
    }

    // Log, Help, F1 and the logo hand their documents to the desktop's handlers.
    void documentsOpenWithTheDesktopsHandlers() {
        UrlRecorder recorder;
        for (const char* scheme : {"file", "https"})
            QDesktopServices::setUrlHandler(scheme, &recorder, "Open");
        CMainDlg& window = h->Open();
        h->Click("Log");
        h->Click("Help");
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F1);
        h->Click("Brimlow web page");
        for (const char* scheme : {"file", "https"})
            QDesktopServices::unsetUrlHandler(scheme);
        QString data = QUrl::fromLocalFile(QString::fromStdString(h->tc.dir.Path())).toString();
        QCOMPARE(recorder.urls, QStringList({data + "/Messages.LOG", data + "/Brimlow.PDF", data + "/Brimlow.PDF",
                                             QString(kProductWebPage)}));
    }

    void sendRefusesWithoutMessageOrRecipient_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("error");
        QTest::newRow("no message") << "" << QStringList{"Ann"} << kNoMessageError;
        QTest::newRow("nothing selected") << "Hi" << QStringList{} << kNoSelectionError;
        QTest::newRow("a group of nobody") << "Hi" << QStringList{"Nobody"} << kNoSelectionError;
    }
    void sendRefusesWithoutMessageOrRecipient() {
        QFETCH(QString, message);
        QFETCH(QStringList, selected);
        QFETCH(QString, error);
        h->Open();
        h->Select(selected);
        h->Type(message);
        h->Click("Send");
        QCOMPARE(h->ShownTexts(), QStringList{error});
        QCOMPARE(snpp->Commands().size(), 0u);
    }

    // Send runs off the user-interface thread: the window keeps answering, the list stays as it was.
    void netPageSendsToEveryMemberBySnpp() {
        h->Open();
        h->Select({"Desks"});
        h->Type("Drill at noon");
        h->Click("Send");
        QCOMPARE(snpp->Messages(), std::vector<std::string>({"Drill at noon\n", "Drill at noon\n"}));
        QCOMPARE(h->List()->selectedItems().size(), 1);
        QTRY_COMPARE(h->Counter("Sent"), QString("2"));
        QVERIFY(test::ReadFile(h->tc.DataFile(kMessageLog)).find("bob Msg: Drill at noon") != std::string::npos);
    }

    void pageModeQueuesHeldPagesThatTheWorkerReleases() {
        h->Open();
        h->Find<QAbstractButton>("Net Page")->click();
        h->Select({"Ann", "bob"});
        h->Type("Call in");
        h->Click("Send");
        QTRY_COMPARE(test::ListDir(h->tc.DataFile("0")).size(), 2u);
        QTRY_VERIFY(test::ListDir(h->tc.DataFile("0"))[0].starts_with("MSG"));
        QTRY_COMPARE(h->Counter("Queue"), QString("2"));
        h->Click("Purge");
        QTRY_COMPARE(h->Counter("Queue"), QString("0"));
    }

    void emailModeHandsThePacketToTheMailServer() {
        std::string mail = h->tc.DataFile("mail");
        test::PeerProcess smtp(test::SmtpSinkCommand(mail));
        QVERIFY(smtp.Port() > 0);
        qputenv(kSmtpPortVariable, QByteArray::number(smtp.Port()));
        h->tc.console.settings.Update([](Settings& s) {
            s.OutboundMailServer = "127.0.0.1";
            s.ReturnAddress = "desk@example.com";
        });
        h->Open();
        h->Find<QAbstractButton>("Net Page")->click();
        h->Find<QAbstractButton>("Page")->click();
        h->Find<QLineEdit>("Subject")->setText("Drill");
        h->Select({"Ann"});
        h->Type("Gate 4");
        h->Click("Send");
        QTRY_VERIFY_WITH_TIMEOUT(test::FileExists(mail + "/1.eml"), 20000);
        qunsetenv(kSmtpPortVariable);
        QVERIFY(test::ReadFile(mail + "/1.eml").find("Gate 4") != std::string::npos);
        QTRY_COMPARE(h->Counter("Sent"), QString("1"));
        // The mail daemon's status lines reach the Result list through the timer.
        QTRY_VERIFY(h->Find<QListWidget>("Result")->count() > 0);
    }

    void queueButtonWritesRootPagesThatSendQSends() {
        h->Open();
        h->Select({"bob"});
        h->Type("Later");
        h->Click("Queue");
        QTRY_COMPARE(h->Counter("Queue"), QString("1"));
        h->Click("Send Q");
        QTRY_COMPARE(snpp->Messages(), std::vector<std::string>({"Later\n"}));
        QTRY_COMPARE(h->Counter("Queue"), QString("0"));
    }

    void resultListKeepsTheNewest1000Lines() {
        CMainDlg& window = h->Open();
        for (int n = 0; n < 1005; ++n)
            window.AddResultLine(QString("line %1").arg(n));
        QListWidget* result = h->Find<QListWidget>("Result");
        QCOMPARE(result->count(), kResultLineLimit);
        QCOMPARE(result->item(0)->text(), QString("line 5"));
        QVERIFY(!result->visualItemRect(result->item(kResultLineLimit - 1)).isEmpty());
    }

    // Enter outside the message does nothing; Ctrl+Return sends; Escape asks before the window ends.
    void keysAndExit() {
        CMainDlg& window = h->Open();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        h->Select({"Ann"});
        QTest::keyClick(h->List(), Qt::Key_Return);
        QVERIFY(h->op.Shown().empty());
        QTest::keyClick(h->List(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(h->ShownTexts(), QStringList{kNoMessageError});
        QSignalSpy finished(&window, &QDialog::finished);
        h->op.QueueAnswer(false);
        QTest::keyClick(h->List(), Qt::Key_Escape);
        QCOMPARE(h->ShownTexts().last(), QString("Do you wish to exit?"));
        QVERIFY(window.isVisible());
        h->op.QueueAnswer(true);
        QTest::keyClick(h->List(), Qt::Key_Escape);
        QCOMPARE(finished.size(), 1);
    }

    void addsASubscriberAndAGroupSorted() {
        h->Open();
        h->op.QueueAnswer(false);
        WhenModal<CEditSubscriberDlg>([](CEditSubscriberDlg& dialog) {
            dialog.findChildren<QLineEdit*>()[0]->setText("aaron");
            dialog.accept();
        });
        h->Click("Add");
        QCOMPARE(h->Rows(), QStringList({"aaron", "Ann", "bob", "Desks", "Nobody"}));
        h->op.QueueAnswer(true);
        WhenModal<CGroupDlg>([](CGroupDlg& dialog) {
            dialog.findChild<QLineEdit*>()->setText("Crew");
            dialog.findChildren<QListWidget*>()[0]->item(1)->setSelected(true);
            dialog.AddMember();
            dialog.accept();
        });
        h->Click("Add");
        QCOMPARE(h->Rows(), QStringList({"aaron", "Ann", "bob", "Crew", "Desks", "Nobody"}));
        QCOMPARE(h->List()->item(3)->icon().cacheKey() != h->List()->item(0)->icon().cacheKey(), true);
        int crew = GroupNumberOf(Local().subscribers[Slot("Crew")]);
        QCOMPARE(GetText(Local().groups[crew].Members[0]), std::string("Ann"));
    }

    // A new group that is cancelled names no entry: its slot must not keep the members it was given.
    void aCancelledNewGroupLeavesItsSlotFree() {
        h->Open();
        h->op.QueueAnswer(true);
        int slot = AllocateGroupNumber(Local());
        WhenModal<CGroupDlg>([](CGroupDlg& dialog) {
            dialog.findChildren<QListWidget*>()[0]->item(0)->setSelected(true);
            dialog.AddMember();
            dialog.reject();
        });
        h->Click("Add");
        QVERIFY(IsEmptyText(Local().groups[slot].Members[0]));
        QCOMPARE(AllocateGroupNumber(Local()), slot);
    }

    void editingAGroupDownToNobodyDeletesIt() {
        h->Open();
        h->Select({"Nobody"});
        int group = GroupNumberOf(Local().subscribers[Slot("Nobody")]);
        WhenModal<CGroupDlg>([](CGroupDlg& dialog) {
            dialog.findChildren<QListWidget*>()[1]->item(0)->setSelected(true);
            dialog.RemoveMember();
            dialog.accept();
        });
        emit h->List()->itemDoubleClicked(h->List()->selectedItems().first());
        QCOMPARE(h->ShownTexts(), QStringList{"This group is empty and will be deleted!"});
        QCOMPARE(h->Rows(), QStringList({"Ann", "bob", "Desks"}));
        QVERIFY(IsEmptyText(Local().groups[group].Members[0]));
    }

    void deleteAsksOneEntryAtATime_data() {
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("subscriber") << QStringList{"bob"} << true << "Delete this subscriber?\nbob"
                                    << QStringList{"Ann", "Desks", "Nobody"};
        QTest::newRow("group") << QStringList{"Desks"} << true << "Delete this group?\nDesks"
                               << QStringList{"Ann", "bob", "Nobody"};
        QTest::newRow("answered No") << QStringList{"bob"} << false << "Delete this subscriber?\nbob"
                                     << QStringList{"Ann", "bob", "Desks", "Nobody"};
        QTest::newRow("two at once") << QStringList{"Ann", "bob"} << true
                                     << "Only one subscriber can be deleted at a time!"
                                     << QStringList{"Ann", "bob", "Desks", "Nobody"};
    }
    void deleteAsksOneEntryAtATime() {
        QFETCH(QStringList, selected);
        QFETCH(bool, yes);
        QFETCH(QString, shown);
        QFETCH(QStringList, rows);
        h->Open();
        int desks = GroupNumberOf(Local().subscribers[Slot("Desks")]);
        h->Select(selected);
        h->op.QueueAnswer(yes);
        QTest::keyClick(h->List(), Qt::Key_Delete);
        QCOMPARE(h->ShownTexts(), QStringList{shown});
        QCOMPARE(h->Rows(), rows);
        QCOMPARE(IsEmptyText(Local().groups[desks].Members[0]), !rows.contains("Desks"));
    }

    // On a server console an entry open in an editor holds lock byte 0xFF: a client's Lock Record is refused
    // and Lock Owner names the server's own operator, until the editor closes, saved or not.
    void anOpenEditorLocksTheEntryAgainstLanClients() {
        qputenv(lan::kLanPortEnv, QByteArray::number(test::UnusedPort()));
        h->tc.console.serverRole = true;
        CMainDlg& window = h->Open();
        qunsetenv(lan::kLanPortEnv);
        QCOMPARE(window.windowTitle(), QString("Brimlow Server - Quillfen Labs"));
        QVERIFY(window.Server() && window.Server()->Port() > 0);
        window.Server()->Operators().Set(0, "ann", "pw", kReadWrite);
        test::RawClient client(window.Server()->Port());
        QCOMPARE(client.Request(lan::EncodeLogin("ann", "pw"), 3), std::string("1\r\n"));
        int slot = Slot("bob");
        std::string lockReply, ownerReply;
        WhenModal<CEditSubscriberDlg>([&](CEditSubscriberDlg& dialog) {
            lockReply = client.Request(lan::EncodeIndex(lan::Request::LockRecord, slot), 3);
            ownerReply = client.Request(lan::EncodeIndex(lan::Request::LockOwner, slot), 8);
            dialog.reject();
        });
        h->Select({"bob"});
        emit h->List()->itemDoubleClicked(h->List()->selectedItems().first());
        QCOMPARE(lockReply, std::string("0\r\n"));
        QCOMPARE(ownerReply, std::string("*SERVER*"));
        QCOMPARE(Local().subscribers[slot].LockByte, 0);
        QCOMPARE(client.Request(lan::EncodeIndex(lan::Request::LockRecord, slot), 3), std::string("1\r\n"));
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::MainWindowTest)
#include "ui_main_test.moc"
