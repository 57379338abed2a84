// The tracking list and the Tracking dialog on the real widgets, a real data directory and an SNPP simulator.
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/ui_window_fixture.h"
#include "tracking/tracking_list.h"
#include "tracking/unread_mark.h"
#include "ui/tracking_dlg.h"
#include "ui/tracking_panel.h"

#include <sys/time.h>

namespace brimlow {

const std::string kHead = "0001\r\n960 31337 5 OK\r\nThu Dec  4 09:05:00 2025\r\nDesk 4\r\n5551234\r\n";

// A status reply whose own text begins at the 40th character, after a blank there when blank is set.
std::string Reply(const std::string& text, bool blank) {
    return std::string("889 31337 Thu Dec  4 09:10:00 2025").append(5, '.') + (blank ? " " : "") + text;
}

class UiTrackingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowHarness> h;
    std::unique_ptr<TrackingPanel> panel;
    QStringList results;

    void Start(bool drainStatus) {
        panel.reset();
        h = std::make_unique<test::WindowHarness>(drainStatus);
        results.clear();
        h->op.SetResultSink([this](const QString& line) { results << line; });
        MakeFolder(h->tc.dir.File(kTrackingFolder));
        panel = std::make_unique<TrackingPanel>(h->tc.console);
        panel->show(); // the Delete key needs the window active
        QApplication::setActiveWindow(panel.get());
        QVERIFY(QTest::qWaitForWindowActive(panel.get()));
    }
    std::string Path(const std::string& name) { return h->tc.dir.File(std::string(kTrackingFolder) + "/" + name); }
    void Ticket(const std::string& name, time_t lastWrite, bool unread, const std::string& content = kHead) {
        test::WriteFile(Path(name), content);
        timeval times[2] = {{lastWrite, 0}, {lastWrite, 0}};
        utimes(Path(name).c_str(), times);
        if (unread)
            SetUnreadMark(Path(name));
    }
    QListWidget* List() { return test::Field<QListWidget>(*panel, "Tracking"); }
    // Each row's name and the state a screen reader reads for it.
    QStringList Rows() {
        QStringList rows;
        for (int i = 0; i < List()->count(); ++i)
            rows << List()->item(i)->text() + " " + List()->item(i)->data(Qt::AccessibleDescriptionRole).toString();
        return rows;
    }

private slots:
    void init() { Start(true); }

    void listShowsStatesNewestFirstAndShredsAfterTwoDays() {
        test::FakeClock clock(1765000000);
        h->tc.console.clock = &clock;
        const time_t now = clock.Now();
        Ticket("Unread.1.1.0", now - 172800, true);
        Ticket("Recent.2.2.0", now - 3600, false);
        Ticket("Older.3.3.0", now - 3601, false);
        Ticket("Expired.4.4.0", now - 172801, true);
        MakeFolder(Path("folder"));
        h->tc.console.trackingRefresh = 1;
        panel->RefreshTracking();
        QCOMPARE(Rows(), QStringList({"Recent.2.2.0 Recent", "Older.3.3.0 Older", "Unread.1.1.0 New replies"}));
        QVERIFY(!test::FileExists(Path("Expired.4.4.0")));
        QCOMPARE(h->tc.console.trackingRefresh.load(), 0);
        clock.Set(now + 1); // the ticket at exactly 48 hours goes too
        panel->RefreshTracking();
        QVERIFY(!test::FileExists(Path("Unread.1.1.0")));

        for (int i = 0; i < 499; ++i) // 501 tickets: the first 500 listed are kept, and none is shredded
            Ticket("T." + std::to_string(i) + ".1.0", now - 7200 - i, false);
        const size_t files = test::ListDir(h->tc.dir.File(kTrackingFolder)).size();
        panel->RefreshTracking();
        QCOMPARE(List()->count(), 500);
        const QStringList older = Rows().filter(QRegularExpression("^T\\."));
        for (int row = 1; row < older.size(); ++row)
            QVERIFY(older[row - 1].section('.', 1, 1).toInt() < older[row].section('.', 1, 1).toInt());
        QCOMPARE(test::ListDir(h->tc.dir.File(kTrackingFolder)).size(), files);
    }

    // The message ends at a 960 line whose text from the 40th character is the first reply; long lines split.
    void doubleClickViewsTheTicket_data() {
        QTest::addColumn<std::string>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("replies");
        const std::string a(199, 'a'), b(199, 'b');
        QTest::newRow("replies") << "Call\r\n" + a + b + "c\n960" + Reply(" Delivered", false).substr(3) + "\r\n" +
                                        Reply("Read", true) + "\r\n" + Reply("Ack", false) + "\r\n889 short\r\n"
                                 << QString::fromStdString("Call\n" + a + "\n" + b + "\nc\n")
                                 << " Delivered\nRead\nAck\n";
        QTest::newRow("replies without a 960 line stay in the message")
            << Reply("Read", true) + "\r\n"
            << QString::fromStdString(Reply("Read", true) + "\n") << "";
    }
    void doubleClickViewsTheTicket() {
        QFETCH(std::string, body);
        Ticket("Desk 4.31337.5.0", time(nullptr), true, kHead + body);
        panel->RefreshTracking();
        QStringList shown;
        test::WhenModal<CTrackingDlg>([&](CTrackingDlg& dialog) {
            shown << dialog.windowTitle();
            for (const char* name : {"Name", "PIN", "Date", "Message", "Replies"}) {
                QWidget* field = test::Field(dialog, name);
                shown << field->property(qobject_cast<QPlainTextEdit*>(field) ? "plainText" : "text").toString();
            }
            dialog.accept();
        });
        QPoint at = List()->visualItemRect(List()->item(0)).center();
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, at);
        QFETCH(QString, message);
        QFETCH(QString, replies);
        QCOMPARE(shown, QStringList({"Tracking", "Desk 4", "5551234", "Thu Dec  4 09:05:00 2025", message, replies}));
        QCOMPARE(Rows(), QStringList({"Desk 4.31337.5.0 Recent"}));
    }

    // A status line waiting for the Result list must not hold up the report of a mark that could not be cleared.
    void acknowledgeEvenWithAStatusLineWaitingAndDelete() {
        Start(false);
        const time_t before = time(nullptr);
        Ticket("Old.1.1.0", before - 7200, true, kHead + "Hi\r\n");
        Ticket("Vanishing.2.2.0", before - 7201, true);
        Ticket("Kept.3.3.0", before - 7202, false);
        Ticket("Gone.4.4.0", before - 7203, false);
        panel->RefreshTracking();
        QCOMPARE(Rows()[0], "Old.1.1.0 New replies");
        h->tc.console.mailbox.line = "a line still waiting";
        test::Select(*List(), {"Old.1.1.0", "Vanishing.2.2.0"});
        ShredFile(Path("Vanishing.2.2.0"));
        test::Field<QPushButton>(*panel, "Acknowledge")->click();
        QCOMPARE(Rows(), QStringList({"Old.1.1.0 Recent", "Kept.3.3.0 Older", "Gone.4.4.0 Older"}));
        QCOMPARE(test::ReadFile(Path("Old.1.1.0")), kHead + "Hi\r\n");
        QCOMPARE(results, QStringList({kMarkNotCleared}));
        QVERIFY(test::ReadFile(h->tc.DataFile("MSNPP.LOG")).find(kMarkNotCleared) != std::string::npos);
        QVERIFY(List()->item(0)->isSelected());

        test::Select(*List(), {"Old.1.1.0", "Gone.4.4.0"});
        List()->setFocus();
        QTest::keyClick(List(), Qt::Key_Delete);
        QCOMPARE(test::ListDir(h->tc.dir.File(kTrackingFolder)), std::vector<std::string>{"Kept.3.3.0"});
        QCOMPARE(Rows(), QStringList({"Kept.3.3.0 Older"}));
    }

    void checkRefusesNetworkTicketsAndAsksForTheOthers() {
        test::SnppSimulator server{test::SnppScript{}};
        h->tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
        h->tc.console.settings.Update([](Settings& s) { s.Username = "Ann"; });
        Ticket("Desk.31337.5.0-ann", time(nullptr), false);
        Ticket("Desk.31337.5.0", time(nullptr), false);
        panel->RefreshTracking();
        test::Select(*List(), {"Desk.31337.5.0-ann", "Desk.31337.5.0"});
        test::Field<QPushButton>(*panel, "Check")->click();
        QCOMPARE(h->TakeShown(), QStringList{QString("Brimlow: ") + kNetworkTicketRefusal});
        QCOMPARE(h->tc.console.trackingPause.load(), 0);
        QTRY_COMPARE(server.Commands(), std::vector<std::string>({"MSTA 31337.5", "QUIT"}));
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::UiTrackingTest)
#include "ui_tracking_test.moc"
