// The real main window on a local data directory, sending to real peers, with its editors and its About box.
#include "tests/snpp_simulator.h"
#include "tests/support/peer_process.h"
#include "tests/ui_window_fixture.h"
#include "transports/smtp.h"
#include "ui/about_dlg.h"
#include "ui/edit_signature_dlg.h"
#include "ui/edit_subscriber_dlg.h"
#include "ui/group_dlg.h"
#include "ui/link_static.h"

#include <algorithm>

namespace brimlow {

using test::Field;
using test::WhenModal;

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowHarness> h;
    std::unique_ptr<test::SnppSimulator> snpp;
    int bob = 0, desks = 0, nobody = 0; // bob's slot stays where it is when the table is sorted

    Directory& Local() { return *h->tc.console.local; }

private slots:
    void init() {
        h = std::make_unique<test::WindowHarness>();
        snpp = std::make_unique<test::SnppSimulator>(test::SnppScript{});
        h->tc.console.settings.Update([](Settings& s) { s.Tab3 = "Night"; });
        Directory& dir = Local();
        dir.companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp->Port());
        dir.companies[1] = test::MakeCompany("Rural");
        SubscriberRecord ann = test::MakeSubscriber("Ann", 0, "11");
        SetText(ann.Email, "ann@example.net");
        AddSubscriber(dir, ann);
        bob = AddSubscriber(dir, test::MakeSubscriber("bob", 0, "22"));
        AddSubscriber(dir, test::MakeSubscriber("Second tab", 0, "33", 1));
        desks = test::AddGroup(dir, "Desks", {"Ann", "bob"});
        nobody = test::AddGroup(dir, "Nobody", {"Zed"});
    }
    void cleanup() {
        qunsetenv(kSmtpPortVariable);
        h.reset();
        snpp.reset();
    }

    // BRIMLOW_SCREENSHOT keeps a PNG of the window; Escape's Yes is the window process test's.
    void startsAsInitialisedAndAnswersItsKeys() {
        h->tc.console.settings.Update([](Settings& s) { s.SendViaServer = 1; }); // cleared without networking
        h->tc.console.signature.Attach = 1;
        h->tc.console.sentPages = 7;
        CMainDlg& window = h->Open();
        QCOMPARE(window.findChild<QTabBar*>()->count(), 3);
        QVERIFY(h->Find<QCheckBox>("Attach Signature")->isChecked());
        QCOMPARE(h->tc.console.settings.Get().SendViaServer, 0);
        for (const char* name : {"Subject", "Message", "Length", "Sent", "Rejected", "Queue", "Subscribers", "Result"})
            QVERIFY2(h->Find(name), name);
        QTRY_COMPARE(h->Counter("Sent"), "0");
        window.showMinimized();
        window.BringToFront(); // a second console's request
        QVERIFY(!window.isMinimized());
        if (QString path = qEnvironmentVariable("BRIMLOW_SCREENSHOT"); !path.isEmpty())
            QVERIFY(window.grab().save(path));

        test::UrlCatcher urls({"file", "https", "mailto"});
        for (const char* button : {"Log", "Help", "Brimlow web page"})
            h->Click(button);
        // In the About box OK has the focus, so Enter closes it rather than opening a link; links open on Space too.
        QStringList seen;
        WhenModal<CAboutDlg>([&](CAboutDlg& about) {
            QApplication::setActiveWindow(&about);
            if (QTest::qWaitForWindowActive(&about) && QApplication::focusWidget() == Field<QPushButton>(about, "OK"))
                seen << "OK focused";
            for (CLinkStatic* link : about.findChildren<CLinkStatic*>()) {
                QImage image = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
                const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
                if (std::count(pixels, pixels + image.sizeInBytes() / 4, qRgb(0, 0, 255)) > 0)
                    seen << "blue " + link->Target().toString();
                QTest::mouseClick(link, Qt::LeftButton);
                link->setFocus();
                QTest::keyClick(link, Qt::Key_Space);
            }
            about.accept();
        });
        for (QAction* action : window.findChildren<QAction*>())
            if (action->text() == "&About Brimlow")
                action->trigger();
        const QString data = QUrl::fromLocalFile(QString::fromStdString(h->tc.dir.Path())).toString();
        const QString web = kProductWebPage, sales = QString("mailto:") + kSalesAddress;
        const QString support = QString("mailto:") + kSupportAddress;
        QCOMPARE(seen, QStringList({"OK focused", "blue " + web, "blue " + sales, "blue " + support}));
        QCOMPARE(urls.opened, QStringList({data + "/Messages.LOG", data + "/Brimlow.PDF", web, web, web, sales, sales,
                                           support, support}));

        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        h->Select({"Ann"});
        QTest::keyClick(h->List(), Qt::Key_Return); // does nothing: the next box shown is Escape's
        h->op.QueueAnswer(false);
        QTest::keyClick(h->List(), Qt::Key_Escape);
        QCOMPARE(h->TakeShown(), QStringList{"Brimlow: Do you wish to exit?"});
        QVERIFY(window.isVisible());

        for (int n = 0; n < 1005; ++n)
            window.AddResultLine(QString("line %1").arg(n));
        auto* result = h->Find<QListWidget>("Result");
        QCOMPARE(result->count(), kResultLineLimit);
        QCOMPARE(result->item(0)->text(), "line 5");
        QVERIFY(!result->visualItemRect(result->item(kResultLineLimit - 1)).isEmpty());
    }

    // Length counts the signature only with a message; the editor takes 100, keeps 99 and pastes without loss.
    void lengthAndSignature() {
        SetText(h->tc.console.signature.Text, " --sig");
        h->Open();
        auto* attach = h->Find<QCheckBox>("Attach Signature");
        auto length = [&](const QString& message, bool attached) {
            attach->setChecked(attached);
            h->Type(message);
            return h->Counter("Length") + (h->tc.console.signature.Attach == attached ? "" : "?");
        };
        QCOMPARE(QStringList({length("", true), length("Hello", false), length("Hello", true),
                              length(QString(1200, 'x'), false)}),
                 QStringList({"0", "5", "11", "999"}));

        // A paste keeps what fits before the text after it; Cancel hands back the text given.
        const QString x = QString(50, 'x') + QString(52, 'y');
        QStringList fields;
        for (bool ok : {true, false}) {
            SetText(h->tc.console.signature.Text, ok ? "Regards" : "Desk\r\n555");
            WhenModal<CEditSignatureDlg>([&](CEditSignatureDlg& dialog) {
                auto* edit = dialog.findChild<QPlainTextEdit*>();
                edit->moveCursor(ok ? QTextCursor::Start : QTextCursor::End);
                ok ? edit->insertPlainText(x) : QTest::keyClicks(edit, "more");
                fields << dialog.windowTitle() + ": " + edit->toPlainText();
                ok ? dialog.accept() : dialog.reject();
            });
            h->Click("Edit");
            fields << QString::fromStdString(GetText(h->tc.console.signature.Text));
        }
        QCOMPARE(fields, QStringList({"Edit Signature: " + x.left(93) + "Regards", x.left(93) + "Regard",
                                      "Edit Signature: Desk\n555more", "Desk\r\n555"}));
    }

    // Send and Queue hand the selection to the transports off the user-interface thread, keeping the selection.
    void sendInEachMode_data() {
        QTest::addColumn<int>("modeSteps");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("counts"); // SNPP pages, mails, pages ready for the dialer; Sent and Queue
        const QStringList send{"Send"}, bob{"bob"};
        QTest::newRow("Net Page to a group") << 0 << send << QStringList{"Desks"} << "2 0 0, 2 0";
        QTest::newRow("Page, the mode cycled round") << 4 << send << QStringList{"Ann", "bob"} << "0 0 2, 0 2";
        QTest::newRow("Email") << 2 << send << QStringList{"Ann"} << "0 1 0, 1 0";
        QTest::newRow("Queue") << 0 << QStringList{"Queue"} << bob << "0 0 0, 0 1";
        QTest::newRow("Queue, Send Q") << 0 << QStringList{"Queue", "Send Q"} << bob << "1 0 0, 1 0";
    }
    void sendInEachMode() {
        QFETCH(int, modeSteps);
        QFETCH(QStringList, buttons);
        QFETCH(QStringList, selected);
        const std::string mail = h->tc.DataFile("mail");
        test::PeerProcess smtp(test::SmtpSinkCommand(mail));
        QVERIFY(smtp.Port() > 0);
        qputenv(kSmtpPortVariable, QByteArray::number(smtp.Port()));
        h->tc.console.settings.Update([](Settings& s) {
            s.OutboundMailServer = "127.0.0.1";
            s.ReturnAddress = "desk@example.com";
        });
        h->Open();
        QAbstractButton* mode = h->Find<QAbstractButton>("Net Page"); // Net Page, Page, Email, Net Page...
        for (int step = 0; step < modeSteps; ++step)
            mode->click();
        QCOMPARE(mode->text(), QStringList({"Net Page", "Page", "Email"})[modeSteps % 3]);
        QCOMPARE(h->Find("Subject")->isEnabled(), modeSteps % 3 == 2);
        h->Find<QLineEdit>("Subject")->setText("Drill");
        h->Select(selected);
        h->Type("Gate 4");
        for (const QString& button : buttons)
            h->Click(button);
        const QList<QListWidgetItem*> kept = h->List()->selectedItems();
        QVERIFY(!kept.isEmpty() && kept[0]->text() == selected[0]);
        QFETCH(QString, counts);
        auto now = [&] {
            int ready = 0;
            for (const std::string& name : test::ListDir(h->tc.DataFile("0")))
                ready += name.starts_with("MSG") ? 1 : 0;
            return QString("%1 %2 %3, %4 %5")
                .arg(snpp->Messages().size())
                .arg(test::FileExists(mail + "/1.eml"))
                .arg(ready)
                .arg(h->Counter("Sent"), h->Counter("Queue"));
        };
        QTRY_COMPARE_WITH_TIMEOUT(now(), counts, 20000);
    }

    // A cancelled new group keeps none of its members; an open entry holds the lock byte the LAN clients meet.
    void editingTheDirectory() {
        QCOMPARE(test::UnnamedControls(h->Open()), QStringList());
        const int crew = AllocateGroupNumber(Local());
        QStringList unnamed; // in the Edit Subscriber and Group dialogs
        auto edit = [&unnamed](bool ok, std::function<void(QDialog&)> change) {
            WhenModal<QDialog>([ok, change, &unnamed](QDialog& dialog) {
                unnamed << test::UnnamedControls(dialog);
                change(dialog);
                ok ? dialog.accept() : dialog.reject();
            });
        };
        auto fillGroup = [](QDialog& dialog) {
            Field<QLineEdit>(dialog, "Group Name")->setText("Crew");
            Field<QListWidget>(dialog, "Subscribers")->item(0)->setSelected(true);
            qobject_cast<CGroupDlg*>(&dialog)->AddMember();
        };
        auto add = [&](bool group, bool ok, std::function<void(QDialog&)> change) {
            h->op.QueueAnswer(group);
            edit(ok, std::move(change));
            h->Click("Add");
        };
        add(true, false, fillGroup);
        QVERIFY(IsEmptyText(Local().groups[crew].Members[0]));
        QCOMPARE(AllocateGroupNumber(Local()), crew);
        add(false, true, [](QDialog& dialog) { Field<QLineEdit>(dialog, "Name")->setText("aaron"); });
        add(true, true, fillGroup);
        QCOMPARE(h->Rows(), QStringList({"aaron", "Ann", "bob", "Crew", "Desks", "Nobody"}));
        QCOMPARE(unnamed, QStringList());
        QVERIFY(h->List()->item(3)->icon().cacheKey() != h->List()->item(0)->icon().cacheKey());
        QCOMPARE(GetText(Local().groups[crew].Members[0]), "aaron");

        int lockWhileOpen = 0;
        edit(false, [&](QDialog&) { lockWhileOpen = Local().subscribers[bob + 1].LockByte; });
        h->Select({"bob"});
        h->DoubleClickSelected();
        QCOMPARE(lockWhileOpen, int(kLockedByLocalEditor));
        QCOMPARE(Local().subscribers[bob + 1].LockByte, 0);

        h->TakeShown();
        for (const char* group : {"Crew", "Desks"}) {
            edit(QString(group) == "Crew", [](QDialog& dialog) {
                auto* members = Field<QListWidget>(dialog, "Group Members");
                while (members->count() > 0) {
                    members->item(0)->setSelected(true);
                    emit members->itemDoubleClicked(members->item(0));
                }
            });
            h->Select({group});
            h->DoubleClickSelected();
        }
        QCOMPARE(h->TakeShown(), QStringList(2, "Error: This group is empty and will be deleted!"));
        QVERIFY(IsEmptyText(Local().groups[crew].Members[0]) && IsEmptyText(Local().groups[desks].Members[0]));

        for (bool yes : {false, true, true}) // two at once are refused without a question
            h->op.QueueAnswer(yes);
        for (const QStringList& selected : {QStringList{"aaron", "bob"}, {"bob"}, {"bob"}, {"Nobody"}}) {
            h->Select(selected);
            QTest::keyClick(h->List(), Qt::Key_Delete);
        }
        QCOMPARE(h->TakeShown(),
                 QStringList({"Brimlow: Only one subscriber can be deleted at a time!",
                              "Brimlow: Delete this subscriber?\nbob", "Brimlow: Delete this subscriber?\nbob",
                              "Brimlow: Delete this group?\nNobody"}));
        QCOMPARE(h->Rows(), QStringList({"aaron", "Ann"}));
        QVERIFY(IsEmptyText(Local().groups[nobody].Members[0]));
    }

    // Each field stores one character less than it takes (the Name two); the tab buttons carry the tab names.
    void subscriberDialog() {
        CEditSubscriberDlg dialog(h->tc.console, test::MakeSubscriber("Ann", 1, "1", 0));
        QCOMPARE(dialog.windowTitle(), "Edit Subsciber");
        for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
            edit->clear();
            QTest::keyClicks(edit, QString("7a").repeated(50));
        }
        auto* company = Field<QComboBox>(dialog, "Paging company");
        QCOMPARE(company->currentText(), "Rural");
        company->setCurrentIndex(0);
        dialog.findChildren<QRadioButton*>()[2]->setChecked(true);
        dialog.accept();
        CEditSubscriberDlg reopened(h->tc.console, dialog.Record());
        QStringList seen{QString("company %1 tab %2").arg(dialog.Record().Company).arg(dialog.Record().Tab)};
        for (const char* field : {"Name", "Company", "Email", "City", "ZIP", "PIN"})
            seen << QString("%1 %2 %3")
                        .arg(field, Field<QLineEdit>(dialog, field)->text())
                        .arg(Field<QLineEdit>(reopened, field)->text().size());
        const QString x80 = QString("7a").repeated(40);
        QCOMPARE(seen, QStringList({"company 0 tab 2", "Name " + x80 + " 78", "Company " + x80 + " 79",
                                    "Email " + x80 + " 79", "City " + x80.left(40) + " 39",
                                    "ZIP " + x80.left(20) + " 19", "PIN " + QString(20, '7') + " 19"}));
        QCOMPARE(dialog.findChildren<QRadioButton*>()[2]->text(), "Night");
        CEditSubscriberDlg cancelled(h->tc.console, test::MakeSubscriber("Ann", 1));
        cancelled.reject();
        QVERIFY(IsEmptyText(cancelled.Record().Name));
    }

    // Every refusal of the member list, in the order an operator meets them; the members stay sorted.
    void groupMemberRules() {
        CGroupDlg dialog(h->tc.console, "Nobody", nobody, 1);
        auto* subscribers = Field<QListWidget>(dialog, "Subscribers");
        auto* members = Field<QListWidget>(dialog, "Group Members");
        QCOMPARE(test::Rows(*subscribers), QStringList({"Ann", "bob", "Second tab", "Desks", "Nobody"}));
        QVERIFY(dialog.findChildren<QRadioButton*>()[1]->isChecked());
        dialog.AddMember();
        test::Select(*subscribers, {"Ann", "bob"});
        dialog.AddMember();
        test::Select(*subscribers, {"Desks"});
        dialog.AddMember();
        for (const char* name : {"bob", "Ann"}) {
            test::Select(*subscribers, {name});
            emit subscribers->itemDoubleClicked(subscribers->selectedItems().first());
        }
        QCOMPARE(test::Rows(*members), QStringList({"Ann", "bob", "Zed"}));
        test::Select(*members, {"Ann", "bob"});
        dialog.RemoveMember();
        test::Select(*members, {"bob"});
        emit members->itemDoubleClicked(members->item(1));
        QCOMPARE(test::Rows(*members), QStringList({"Ann", "Zed"}));
        for (int m = 2; m < kGroupMembers; ++m)
            SetText(Local().groups[nobody].Members[m], "x");
        test::Select(*subscribers, {"bob"});
        dialog.AddMember();
        const QString oneAtATime = "Morrow SNPP: Only one subscriber can be deleted at a time!";
        QCOMPARE(h->TakeShown(),
                 QStringList({"Morrow SNPP: You must select a subscriber to add!", oneAtATime,
                              "Error: A group cannot be a member of a group!", oneAtATime, "Error: Group is full!"}));
        dialog.findChildren<QRadioButton*>()[2]->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.Name() + " " + QString::number(dialog.Tab()), "Nobody 2");
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::MainWindowTest)
#include "ui_main_test.moc"
