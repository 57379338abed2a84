// The tracking list, the Tracking dialog, Edit Signature and the About box, on the real widgets against a real
// data directory and a simulated SNPP server.
#include "directory/data_files.h"
#include "queue/file_listing.h"
#include "tests/snpp_simulator.h"
#include "tests/support/fake_clock.h"
#include "tests/support/test_console.h"
#include "tracking/tracking_list.h"
#include "tracking/unread_mark.h"
#include "ui/about_dlg.h"
#include "ui/edit_signature_dlg.h"
#include "ui/link_static.h"
#include "ui/qt_operator.h"
#include "ui/tracking_dlg.h"
#include "ui/tracking_panel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <sys/time.h>

using namespace brimlow;

namespace {

const std::string kHead = "0001\r\n960 31337 5 OK\r\nThu Dec  4 09:05:00 2025\r\nDesk 4\r\n5551234\r\n";

// A console on a fresh data directory whose message boxes and Result lines the test reads.
struct Window {
    explicit Window(bool drainStatus = true) : tc(drainStatus) {
        op.SetScripted(true);
        op.SetResultSink([this](const QString& line) { results << line; });
        tc.console.op = &op;
        MakeFolder(tc.dir.File(kTrackingFolder));
        panel.show(); // shortcuts need the window active
        QApplication::setActiveWindow(&panel);
        QTest::qWaitForWindowActive(&panel);
    }
    ~Window() { tc.console.op = &tc.op; }

    std::string Path(const std::string& name) { return tc.dir.File(std::string(kTrackingFolder) + "/" + name); }
    void Ticket(const std::string& name, time_t lastWrite, bool unread, const std::string& content = kHead) {
        test::WriteFile(Path(name), content);
        timeval times[2] = {{lastWrite, 0}, {lastWrite, 0}};
        utimes(Path(name).c_str(), times);
        if (unread)
            SetUnreadMark(Path(name));
    }
    QListWidget* List() { return panel.findChild<QListWidget*>("trackingList"); }
    QStringList Rows() {
        QStringList rows;
        for (int i = 0; i < List()->count(); ++i)
            rows << List()->item(i)->text() + " " + List()->item(i)->data(Qt::AccessibleDescriptionRole).toString();
        return rows;
    }
    void Select(const QStringList& names) {
        for (int i = 0; i < List()->count(); ++i)
            List()->item(i)->setSelected(names.contains(List()->item(i)->text()));
    }
    void Press(const char* button) { panel.findChild<QPushButton*>(button)->click(); }

    test::TestConsole tc;
    QtOperator op;
    QStringList results;
    TrackingPanel panel{tc.console};
};

// Runs action on the next modal dialog once it is open.
void WhenModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(10, [action] {
        if (QWidget* modal = QApplication::activeModalWidget())
            action(modal);
        else
            WhenModal(action);
    });
}

// The text of the dialog's field named name for screen readers.
QString FieldText(QWidget* dialog, const QString& name) {
    for (QWidget* field : dialog->findChildren<QWidget*>())
        if (field->accessibleName() == name)
            return field->property(qobject_cast<QPlainTextEdit*>(field) ? "plainText" : "text").toString();
    return "<missing>";
}

// A status reply whose own text begins at the 40th character, after a blank there when blank is set.
std::string Reply(const std::string& text, bool blank) {
    return std::string("889 31337 Thu Dec  4 09:10:00 2025").append(5, '.') + (blank ? " " : "") + text;
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void Open(const QUrl& url) { urls << url.toString(); }
    QStringList urls;
};

} // namespace

class UiTrackingTest : public QObject {
    Q_OBJECT
private slots:
    void listShowsStatesNewestFirstAndShredsAfterTwoDays() {
        Window w;
        test::FakeClock clock(1765000000);
        w.tc.console.clock = &clock;
        const time_t now = clock.Now();
        w.Ticket("Unread.1.1.0", now - 172800, true);
        w.Ticket("Recent.2.2.0", now - 3600, false);
        w.Ticket("Older.3.3.0", now - 3601, false);
        w.Ticket("Expired.4.4.0", now - 172801, true);
        MakeFolder(w.Path("folder"));
        w.tc.console.trackingRefresh = 1;
        w.panel.RefreshTracking();
        QCOMPARE(w.Rows(), QStringList({"Recent.2.2.0 Recent", "Older.3.3.0 Older", "Unread.1.1.0 New replies"}));
        QVERIFY(!test::FileExists(w.Path("Expired.4.4.0")));
        QCOMPARE(w.tc.console.trackingRefresh.load(), 0);

        // One second later the ticket at exactly 48 hours goes too.
        clock.Set(now + 1);
        w.panel.RefreshTracking();
        QCOMPARE(w.List()->count(), 2);
        QVERIFY(!test::FileExists(w.Path("Unread.1.1.0")));
    }

    void listKeepsAtMost500() {
        Window w;
        const time_t now = time(nullptr);
        for (int i = 0; i < 501; ++i)
            w.Ticket("T." + std::to_string(i) + ".1.0", now - i, false);
        w.panel.RefreshTracking();
        QCOMPARE(w.List()->count(), 500);
        for (int i = 1; i < 500; ++i)
            QVERIFY(w.List()->item(i - 1)->text().section('.', 1, 1).toInt() <
                    w.List()->item(i)->text().section('.', 1, 1).toInt());
        QCOMPARE(test::ListDir(w.tc.dir.File(kTrackingFolder)).size(), size_t(501));
    }

    void doubleClickViewsAndClearsTheMark() {
        Window w;
        w.Ticket("Desk 4.31337.5.0", time(nullptr), true, kHead + "Hello\r\n");
        w.panel.RefreshTracking();
        QStringList shown;
        WhenModal([&](QWidget* dialog) {
            shown << dialog->windowTitle() << FieldText(dialog, "Name") << FieldText(dialog, "PIN")
                  << FieldText(dialog, "Date") << FieldText(dialog, "Message");
            dialog->findChild<QPushButton*>()->click();
        });
        QListWidgetItem* item = w.List()->item(0);
        QPoint at = w.List()->visualItemRect(item).center();
        QTest::mouseClick(w.List()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.List()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(shown, QStringList({"Tracking", "Desk 4", "5551234", "Thu Dec  4 09:05:00 2025", "Hello\n"}));
        QVERIFY(!HasUnreadMark(w.Path("Desk 4.31337.5.0")));
        QCOMPARE(w.Rows(), QStringList({"Desk 4.31337.5.0 Recent"}));
    }

    void dialogReadsTheTicket_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("replies");
        const std::string longLine = std::string(199, 'a') + std::string(199, 'b') + "ccc";
        QTest::newRow("message only, CR LF and LF lines") << "Call the desk\r\nnow\n"
                                                          << "Call the desk\nnow\n"
                                                          << "";
        QTest::newRow("lines longer than 199 show in pieces")
            << QString::fromStdString(longLine + "\r\n")
            << QString::fromStdString(std::string(199, 'a') + "\n" + std::string(199, 'b') + "\nccc\n") << "";
        QTest::newRow("a 960 line ends the message and shows from its 40th character")
            << QString::fromStdString("Hi\r\n960" + Reply(" Delivered", false).substr(3) + "\r\n") << "Hi\n"
            << " Delivered\n";
        QTest::newRow("later replies skip a blank at the 40th, short ones add nothing")
            << QString::fromStdString("Hi\r\n9601\r\n" + Reply("Read", true) + "\r\n" + Reply("Ack", false) +
                                      "\r\n889 short\r\n")
            << "Hi\n"
            << "Read\nAck\n";
        QTest::newRow("replies without a 960 line stay in the message")
            << QString::fromStdString(Reply("Read", true) + "\r\n")
            << QString::fromStdString(Reply("Read", true) + "\n") << "";
    }

    void dialogReadsTheTicket() {
        QFETCH(QString, body);
        Window w;
        w.Ticket("Desk 4.31337.5.0", time(nullptr), false, kHead + body.toStdString());
        std::optional<TicketView> ticket = ReadTicketView(w.Path("Desk 4.31337.5.0"));
        QVERIFY(ticket);
        CTrackingDlg dialog(*ticket, w.tc.console);
        QCOMPARE(FieldText(&dialog, "Name"), "Desk 4");
        QTEST(FieldText(&dialog, "Message"), "message");
        QTEST(FieldText(&dialog, "Replies"), "replies");
    }

    // The Result list is filled by the same thread that acknowledges, so a status line already waiting for it must
    // not hold up the report of a mark that could not be cleared.
    void acknowledgeTouchesAndClearsEvenWithAStatusLineWaiting() {
        Window w(false);
        const time_t before = time(nullptr);
        w.Ticket("Old.1.1.0", before - 7200, true, kHead + "Hi\r\n");
        w.Ticket("Vanishing.2.2.0", before - 7201, true);
        w.panel.RefreshTracking();
        QCOMPARE(w.Rows(), QStringList({"Old.1.1.0 New replies", "Vanishing.2.2.0 New replies"}));
        w.tc.console.mailbox.line = "a line still waiting";
        w.Select({"Old.1.1.0", "Vanishing.2.2.0"});
        ShredFile(w.Path("Vanishing.2.2.0"));
        w.Press("acknowledgeButton");
        QCOMPARE(w.Rows(), QStringList({"Old.1.1.0 Recent"}));
        QCOMPARE(test::ReadFile(w.Path("Old.1.1.0")), kHead + "Hi\r\n");
        QCOMPARE(w.results, QStringList({kMarkNotCleared}));
        QVERIFY(test::ReadFile(w.tc.DataFile("MSNPP.LOG")).find(kMarkNotCleared) != std::string::npos);
        QVERIFY(w.List()->item(0)->isSelected());
    }

    void deleteKeyShredsTheSelection() {
        Window w;
        const time_t now = time(nullptr);
        for (const char* name : {"A.1.1.0", "B.2.2.0", "C.3.3.0"})
            w.Ticket(name, now, false);
        w.panel.RefreshTracking();
        w.Select({"A.1.1.0", "C.3.3.0"});
        w.List()->setFocus();
        QTest::keyClick(w.List(), Qt::Key_Delete);
        QCOMPARE(w.Rows(), QStringList({"B.2.2.0 Recent"}));
        QCOMPARE(test::ListDir(w.tc.dir.File(kTrackingFolder)), std::vector<std::string>{"B.2.2.0"});
    }

    void checkRefusesNetworkTicketsAndChecksTheOthers() {
        Window w;
        test::SnppScript script;
        script.statusLists = {{"889 one", "889 two"}};
        test::SnppSimulator server(script);
        w.tc.console.local->companies[0] = test::MakeCompany("Metro", "127.0.0.1", server.Port());
        w.tc.console.settings.Update([](Settings& s) { s.Username = "Ann"; });
        w.Ticket("Desk.31337.5.0-ann", time(nullptr), false);
        w.Ticket("Desk.31337.5.0", time(nullptr), false);
        w.panel.RefreshTracking();
        w.Select({"Desk.31337.5.0-ann", "Desk.31337.5.0"});
        w.Press("checkButton");
        QCOMPARE(w.op.Shown().size(), size_t(1));
        QCOMPARE(w.op.Shown()[0].caption, QString("Brimlow"));
        QCOMPARE(w.op.Shown()[0].text, QString(kNetworkTicketRefusal));
        QCOMPARE(w.tc.console.trackingPause.load(), 0);
        QTRY_COMPARE(server.Commands(), std::vector<std::string>({"MSTA 31337.5", "QUIT"}));
        QTRY_COMPARE(test::ReadFile(w.Path("Desk.31337.5.0")),
                     "0002" + kHead.substr(4) + "889 two\r\n"); // the stored count was 1
        QCOMPARE(test::ReadFile(w.Path("Desk.31337.5.0-ann")), kHead);
    }

    void signatureLimits_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("pasteAtStart");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("handedBack");
        const QString hundred = QString(50, 'x') + QString(50, 'y');
        QTest::newRow("100 typed, 99 kept") << "" << hundred << false << true << hundred << hundred.left(99);
        QTest::newRow("typing stops at 100") << "" << hundred + "zz" << false << true << hundred << hundred.left(99);
        QTest::newRow("a paste keeps what fits and the text after it")
            << "Regards" << hundred << true << true << hundred.left(93) + "Regards" << hundred.left(93) + "Regard";
        QTest::newRow("Cancel hands back the text given") << "Desk\r\n555"
                                                          << "more" << false << false << "Desk\n555more"
                                                          << "Desk\r\n555";
    }

    void signatureLimits() {
        QFETCH(QString, given);
        QFETCH(QString, typed);
        QFETCH(bool, pasteAtStart);
        test::TestConsole tc;
        CEditSignatureDlg dialog(given, tc.console);
        QCOMPARE(dialog.windowTitle(), "Edit Signature");
        dialog.show();
        auto* field = dialog.findChild<QPlainTextEdit*>();
        if (pasteAtStart) {
            field->moveCursor(QTextCursor::Start);
            field->insertPlainText(typed);
        } else {
            field->moveCursor(QTextCursor::End);
            QTest::keyClicks(field, typed);
        }
        QTEST(field->toPlainText(), "field");
        QFETCH(bool, ok);
        ok ? dialog.accept() : dialog.reject();
        QTEST(dialog.Text(), "handedBack");
    }

    void aboutLinksAreBlueAndOpenTheirTargets() {
        test::TestConsole tc;
        UrlRecorder recorder;
        for (const char* scheme : {"https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, &recorder, "Open");
        CAboutDlg about(tc.console);
        about.show();
        QApplication::setActiveWindow(&about);
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // closes the box, opens no link
        QCOMPARE(about.result(), int(QDialog::Accepted));
        about.show();
        QStringList texts;
        for (QLabel* label : about.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains("Brimlow - Version 4.0") && texts.contains("Quillfen Labs"));

        QList<CLinkStatic*> links = about.findChildren<CLinkStatic*>();
        QCOMPARE(links.size(), 3);
        for (CLinkStatic* link : links) {
            QImage image = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QRgb* pixels = reinterpret_cast<const QRgb*>(image.constBits());
            QVERIFY(std::count(pixels, pixels + image.sizeInBytes() / 4, qRgb(0, 0, 255)) > 0); // drawn pure blue
            QTest::mouseClick(link, Qt::LeftButton);
            link->setFocus();
            QTest::keyClick(link, Qt::Key_Space);
        }
        const QString web = kProductWebPage, sales = QString("mailto:") + kSalesAddress;
        const QString support = QString("mailto:") + kSupportAddress;
        QCOMPARE(recorder.urls, QStringList({web, web, sales, sales, support, support}));

        links[0]->SetTextColor(kButtonTextColor);
        QCOMPARE(links[0]->TextColor(), links[0]->palette().color(QPalette::ButtonText));
        for (const char* scheme : {"https", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
};

QTEST_MAIN(UiTrackingTest)
#include "ui_tracking_test.moc"
