// The configuration dialogs on a real data directory and a real LAN server on loopback.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "network/protocol.h"
#include "network/server.h"
#include "tests/lan_raw_client.h"
#include "tests/support/fake_clock.h"
#include "tests/ui_window_fixture.h"
#include "ui/clients_dlg.h"
#include "ui/configure_dlg.h"
#include "ui/database_dlg.h"
#include "ui/edit_client_dlg.h"
#include "ui/edit_company_dlg.h"
#include "ui/email_settings_dlg.h"
#include "ui/modem_settings_dlg.h"
#include "ui/network_dlg.h"
#include "ui/network_monitor_dlg.h"
#include "ui/providers_dlg.h"
#include "ui/tabs_dlg.h"

#include <QFileDialog>
#include <QSpinBox>
#include <QTreeWidget>
#include <climits>

namespace brimlow {

using test::Field;
using test::WhenModal;
using DialogFactory = std::function<QDialog*(Console&, lan::NetServer&)>;

class UiConfigTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowHarness> h;
    test::FakeClock clock{1700000000}; // outlives the server's threads
    std::unique_ptr<lan::NetServer> server;

    Console& console() { return h->tc.console; }
    Directory& local() { return *console().local; }
    OperatorTable& operators() { return server->Operators(); }
    std::string DataFile(const std::string& name) { return h->tc.DataFile(name); }
    // Providers P0..P4; subscribers A..E each with the provider of their position, and a group entry G.
    void FiveProviders() {
        for (int k = 0; k < 5; ++k) {
            local().companies[k] = test::MakeCompany("P" + std::to_string(k));
            AddSubscriber(local(), test::MakeSubscriber(std::string(1, char('A' + k)), k));
        }
        test::AddGroup(local(), "G", {"A", "B"});
    }

private slots:
    void init() {
        h = std::make_unique<test::WindowHarness>();
        lan::ServerTimings timings;
        timings.receiveTimeoutMs = 50;
        timings.idleLimitMs = INT_MAX; // sessions outlive the monitor's 26 hours of virtual time
        server = std::make_unique<lan::NetServer>(console(), timings);
    }
    void cleanup() {
        server.reset();
        h.reset();
    }

    // Configure's buttons open their dialogs; a Tab 2 renamed there shows when it closes, the same tab selected.
    void configureFromTheMainWindow() {
        CMainDlg& window = h->Open();
        h->SelectTab(1);
        QStringList titles;
        WhenModal<CConfigureDlg>([&](CConfigureDlg& launcher) {
            for (const char* button : {"Providers", "Modem", "E-mail", "Utility", "Network", "Tabs"}) {
                WhenModal<QDialog>([&](QDialog& dialog) {
                    titles << dialog.windowTitle();
                    if (auto* tabs = qobject_cast<CTabsDlg*>(&dialog))
                        Field<QLineEdit>(*tabs, "Tab 2")->setText("Night Shift");
                    dialog.accept();
                });
                Field<QPushButton>(launcher, button)->click();
            }
            launcher.accept();
        });
        h->Click("Configure");
        QCOMPARE(titles, QStringList({"Providers", "Modem Settings", "Email Settings", "Database Utilities", "Network",
                                      "Tabs"}));
        auto* tabs = window.findChild<QTabBar*>();
        QCOMPARE(tabs->tabText(1) + " " + QString::number(tabs->currentIndex()), "Night Shift 1");
    }

    // Every dialog is named for screen readers and opens the manual on F1. The settings dialogs store their fields
    // on OK, cut to what they hold, and nothing on Cancel or Escape.
    void dialogs_data() {
        QTest::addColumn<DialogFactory>("make");
        QTest::addColumn<int>("storedPort");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("stored"); // port|init|dial|server|name|address|tab1|tab2|tab3
        auto row = [](const char* name, DialogFactory make, int port = 0, const char* close = "",
                      const QString& stored = "") { QTest::newRow(name) << make << port << QString(close) << stored; };
        DialogFactory modem = [](Console& c, lan::NetServer&) { return new CModemSettingsDlg(c); };
        DialogFactory email = [](Console& c, lan::NetServer&) { return new CEmailSettingsDlg(c); };
        DialogFactory tabs = [](Console& c, lan::NetServer&) { return new CTabsDlg(c); };
        row("Configure", [](Console& c, lan::NetServer&) { return new CConfigureDlg(c, {}); });
        row("Providers", [](Console& c, lan::NetServer&) { return new CProvidersDlg(c); });
        row("Edit Company", [](Console& c, lan::NetServer&) { return new CEditCompanyDlg(c, CompanyRecord{}, 0); });
        row("Database Utilities", [](Console& c, lan::NetServer&) { return new CDatabaseDlg(c, nullptr); });
        row("Network", [](Console& c, lan::NetServer&) { return new CNetworkDlg(c, {}); });
        row("Clients", [](Console& c, lan::NetServer& s) { return new CClientsDlg(c, s.Operators()); });
        row("Edit Client", [](Console& c, lan::NetServer& s) { return new CEditClientDlg(c, s.Operators(), 0); });
        row("Network Monitor", [](Console& c, lan::NetServer& s) { return new CNetworkMonitorDlg(c, s); });
        const QString unchanged = "0||||||Tab1|Tab2|Tab3", x79 = QString(79, 'x');
        const QString x29 = QString(29, 'x'), x80 = QString(80, 'x'), x100 = QString(100, 'x');
        row("Modem OK", modem, 0, "OK", "2|" + x79 + "|" + x29 + "||||Tab1|Tab2|Tab3");
        row("Modem Cancel", modem, 0, "Cancel", unchanged);
        row("Modem port 7", modem, 7, "OK", "-1|" + x79 + "|" + x29 + "||||Tab1|Tab2|Tab3");
        row("Email OK", email, 0, "OK", "0|||" + x80 + "|" + x80 + "|" + x80 + "|Tab1|Tab2|Tab3");
        row("Email Escape", email, 0, "Escape", unchanged);
        row("Tabs OK", tabs, 0, "OK", "0||||||" + x100 + "|" + x100 + "|" + x100);
        row("Tabs Escape", tabs, 0, "Escape", unchanged);
    }
    void dialogs() {
        QFETCH(DialogFactory, make);
        QFETCH(int, storedPort);
        QFETCH(QString, close);
        console().settings.Update([&](Settings& s) { s.ModemPort = storedPort; });
        std::unique_ptr<QDialog> dialog(make(console(), *server));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QCOMPARE(test::UnnamedControls(*dialog), QStringList());
        test::UrlCatcher urls;
        QTest::keyClick(dialog.get(), Qt::Key_F1);
        QCOMPARE(urls.opened,
                 QStringList{QUrl::fromLocalFile(QString::fromStdString(DataFile("Brimlow.PDF"))).toString()});
        if (close.isEmpty())
            return;

        if (auto* port = dialog->findChild<QComboBox*>()) {
            QCOMPARE(port->currentIndex(), storedPort < 4 ? storedPort : -1);
            if (storedPort < 4)
                port->setCurrentIndex(2);
        }
        for (QLineEdit* field : dialog->findChildren<QLineEdit*>()) {
            field->clear();
            QTest::keyClicks(field, QString(100, 'x')); // each takes what it accepts while typing
        }
        if (close == "Escape")
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            Field<QPushButton>(*dialog, close)->click();
        QVERIFY(!dialog->isVisible());
        Settings s = console().settings.Get();
        QStringList now{QString::number(s.ModemPort), QString(console().modem.InitString),
                        QString(console().modem.DialPrefix)};
        for (const std::string* text :
             {&s.OutboundMailServer, &s.UserName, &s.ReturnAddress, &s.Tab1, &s.Tab2, &s.Tab3})
            now << QString::fromStdString(*text);
        QTEST(now.join('|'), "stored");
    }

    // Delete renumbers every subscriber's Company (a group's stays); the editor hands back the fields it hides.
    void providers() {
        FiveProviders();
        CProvidersDlg dialog(console());
        auto* list = dialog.findChild<QListWidget*>();
        auto state = [&] { // the providers, then the Company of A..E and G
            QStringList now = test::Rows(*list) << "|";
            for (int slot = 0; slot < 6; ++slot)
                now << QString::number(local().subscribers[slot].Company);
            return now.join(' ');
        };
        for (auto [names, yes] : {std::pair{QStringList{"P1", "P3"}, true}, {{"P2"}, false}, {{"P2"}, true}}) {
            test::Select(*list, names);
            if (names.size() == 1)
                h->op.QueueAnswer(yes);
            Field<QPushButton>(dialog, "Delete")->click();
        }
        QCOMPARE(h->TakeShown(),
                 QStringList({"Morrow SNPP: Only one provider can be deleted at a time!",
                              "Morrow SNPP: Delete this provider?\nP2", "Morrow SNPP: Delete this provider?\nP2"}));
        QCOMPARE(state(), "P0 P1 P3 P4 | 0 1 0 2 3 -1");

        QStringList shown;
        WhenModal<CEditCompanyDlg>([&](CEditCompanyDlg& editor) {
            shown << Field<QLineEdit>(editor, "Name")->text() << Field<QLineEdit>(editor, "Socket")->text()
                  << Field<QComboBox>(editor, "Port")->currentText() << Field<QComboBox>(editor, "Baud")->currentText()
                  << (Field<QCheckBox>(editor, "Two Way")->isChecked() ? "two-way" : "one-way");
            QTest::keyClicks(Field<QLineEdit>(editor, "Name"), "Harbor");
            editor.accept();
        });
        Field<QPushButton>(dialog, "New")->click();
        QCOMPARE(shown, QStringList({"", "444", "COM1", "9600", "one-way"}));
        QCOMPARE(state(), "P0 P1 P3 P4 Harbor | 0 1 0 2 3 -1");

        CompanyRecord given = test::MakeCompany("Metro Paging", "snpp.example", 444);
        given.Baud = 0;
        given.MaxChars = 123;
        given.QueueFolderFlag = 1;
        given.TwoWay = 1;
        given.Port = 3;
        local().companies[0] = given;
        for (bool ok : {false, true}) {
            shown.clear();
            WhenModal<CEditCompanyDlg>([&](CEditCompanyDlg& editor) {
                auto* socket = Field<QLineEdit>(editor, "Socket");
                socket->clear();
                QTest::keyClicks(socket, "4x00009");
                shown << Field<QComboBox>(editor, "Baud")->currentText()
                      << Field<QComboBox>(editor, "Port")->currentText() << socket->text();
                ok ? editor.accept() : editor.reject();
            });
            QPoint row = list->visualItemRect(list->item(0)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
            QCOMPARE(shown, QStringList({"9600", "COM4", "40000"}));
            if (ok) {
                given.Baud = 9600;
                given.Socket = static_cast<int16_t>(40000);
            }
            QCOMPARE(test::RecordBytes(local().companies[0]), test::RecordBytes(given));
        }
    }

    // Export and import leave the bytes of "brimlow export"; an existing file is overwritten after Yes only.
    void databaseUtilities() {
        FiveProviders();
        QVERIFY(SaveDirectoryFiles(console().dataDir, local(), console().modem));
        QVERIFY(SaveCompanyFile(console().dataDir, local()));
        test::RunResult cli = test::RunBrimlow({"--data", console().dataDir, "export", "--companies", DataFile("c"),
                                                "--subscribers", DataFile("s"), "--groups", DataFile("g")});
        QCOMPARE(cli.status, 0);
        CDatabaseDlg dialog(console(), nullptr);
        // Names the files folder + c, s and g + suffix in the three fields and presses button.
        auto run = [&](const QString& button, const std::string& folder, const std::string& suffix = "") {
            for (auto [field, letter] : {std::pair{"Company file", 'c'}, {"Subscriber file", 's'}, {"Group file", 'g'}})
                Field<QLineEdit>(dialog, field)->setText(QString::fromStdString(DataFile(folder + letter + suffix)));
            Field<QPushButton>(dialog, button)->click();
        };
        test::WriteFile(DataFile("c1"), "old");
        for (bool yes : {false, true}) {
            h->op.QueueAnswer(yes);
            run("Export", "", "1");
            QCOMPARE(test::ReadFile(DataFile("c1")) != "old", yes);
        }
        QCOMPARE(Field<QLineEdit>(dialog, "Exported subscribers")->text(), "6");
        local().Clear();
        run("Import", "");
        QCOMPARE(Field<QLineEdit>(dialog, "Imported companies")->text(), "5");
        run("Export", "", "2");
        for (const char* file : {"c", "s", "g"})
            for (const char* copy : {"1", "2"})
                QCOMPARE(test::ReadFile(DataFile(file + std::string(copy))), test::ReadFile(DataFile(file)));
        run("Export", "none/");
        run("Import", "none/");
        const QString caption = "Database Export: ";
        QCOMPARE(h->TakeShown(), QStringList({caption + kExportOverwriteQuestion, caption + kExportOverwriteQuestion,
                                              caption + kExportOpenError, caption + kImportOpenError}));

        const QString chosen = QString::fromStdString(DataFile("backup"));
        WhenModal<QFileDialog>([&](QFileDialog& chooser) {
            chooser.selectFile(chosen);
            static_cast<QDialog&>(chooser).accept(); // the chooser's own accept takes the selection
        });
        Field<QPushButton>(dialog, "Browse for the subscriber file")->click();
        QCOMPARE(Field<QLineEdit>(dialog, "Subscriber file")->text(), chosen + ".brw");
    }

    // A client's settings: the address as four numbers (0.0.0.0 for a host name); only the connection restarts.
    void networkSettings_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("stored"); // Enabled, Server, Password, Send Via Server, Send All Via Server
        QTest::addColumn<bool>("restart");
        auto row = [](const char* change, const char* server, const char* stored, bool restart) {
            QTest::newRow(change) << QString(server) << QString(change) << QString(stored) << restart;
        };
        row("Send Via Server", "10.0.0.5", "1 10.0.0.5 pw 1 0", false);
        row("Send All Via Server", "10.0.0.5", "1 10.0.0.5 pw 0 1", false);
        row("Enabled", "10.0.0.5", "0 10.0.0.5 pw 0 0", true);
        row("Server", "10.0.0.5", "1 10.0.0.6 pw 0 0", true);
        row("Username", "10.0.0.5", "1 10.0.0.5 pw 0 0", true);
        row("Password", "10.0.0.5", "1 10.0.0.5 pwx 0 0", true);
        row("stored modulo 256", "300.1.2.-1", "1 44.1.2.255 pw 0 0", true);
        row("stored host name", "server.local", "1 0.0.0.0 pw 0 0", true);
    }
    void networkSettings() {
        QFETCH(QString, server);
        QFETCH(QString, change);
        QFETCH(bool, restart);
        console().settings.Update([&](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = server.toStdString();
            s.Username = "ann";
            s.Password = "pw";
        });
        CNetworkDlg dialog(console(), {});
        QVERIFY(!Field(dialog, "Clients")->isEnabled() && !Field(dialog, "View")->isEnabled());
        if (auto* check = Field<QCheckBox>(dialog, change))
            check->click();
        else if (auto* edit = Field<QLineEdit>(dialog, change))
            QTest::keyClicks(edit, "x");
        else if (change == "Server")
            Field<QSpinBox>(dialog, "Server address, number 4 of 4")->setValue(6);
        dialog.accept();
        const Settings s = console().settings.Get();
        const QString stored = QString("%1 %2 %3 ").arg(s.NetworkEnabled).arg(s.Server.c_str(), s.Password.c_str());
        QTEST(stored + QString("%1 %2").arg(s.SendViaServer).arg(s.SendAllViaServer), "stored");
        const QString restartText = "Brimlow: These settings will take effect after you exit and restart Brimlow.";
        QCOMPARE(h->TakeShown().join(""), restart ? restartText : "");
    }

    // The server's window shows the monitor from its start-up; Close stops its refresh and View starts it.
    void serverWindowAndItsMonitor() {
        QVERIFY(server->Start(0)); // takes the port, so the window's own server only notes it cannot listen
        qputenv(lan::kLanPortEnv, QByteArray::number(server->Port()));
        console().serverRole = true;
        QCOMPARE(h->Open().windowTitle(), "Brimlow Server - Quillfen Labs");
        qunsetenv(lan::kLanPortEnv);
        CNetworkMonitorDlg* started = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<CNetworkMonitorDlg*>(window); shown && shown->isVisible())
                started = shown;
        QVERIFY(started);
        Field<QPushButton>(*started, "Close")->click();
        QVERIFY(!started->isVisible() && !started->Refreshing());
        CNetworkDlg dialog(console(), ServerAdmin{server.get(), started});
        for (const char* clientField : {"Enabled", "Server address, number 1 of 4", "Username", "Password",
                                        "Send Via Server", "Send All Via Server"})
            QVERIFY(!Field(dialog, clientField)->isEnabled());
        QVERIFY(Field(dialog, "Clients")->isEnabled());
        Field<QPushButton>(dialog, "View")->click();
        QVERIFY(started->isVisible() && started->Refreshing());
    }

    // An account added here logs in through a real session at once, with all 30 characters of its password.
    void clientsDeleteAndAdd() {
        for (int k = 0; k < 10; ++k)
            operators().Set(k, "op" + std::to_string(k), "pw", kReadOnly);
        QVERIFY(server->Start(0));
        const std::string password = "abcdefghij0123456789ABCDEFGHIJ";
        CClientsDlg dialog(console(), operators());
        dialog.findChild<QListWidget*>()->setCurrentRow(3);
        Field<QPushButton>(dialog, "Delete")->click();
        QVERIFY(h->TakeShown().isEmpty());
        WhenModal<CEditClientDlg>([&](CEditClientDlg& editor) {
            QCOMPARE(Field<QLineEdit>(editor, "Password")->echoMode(), QLineEdit::Password);
            QTest::keyClicks(Field<QLineEdit>(editor, "Name"), "night desk"); // no blank: it ends a name on the wire
            QTest::keyClicks(Field<QLineEdit>(editor, "Password"), QString::fromStdString(password) + "KLMNO");
            Field<QRadioButton>(editor, "Read / Write")->setChecked(true);
            Field<QPushButton>(editor, "Save")->click();
        });
        Field<QPushButton>(dialog, "Add")->click();
        QCOMPARE(test::Rows(*dialog.findChild<QListWidget*>()).join(" "),
                 "nightdesk op0 op1 op2 op4 op5 op6 op7 op8 op9");
        test::RawClient session(server->Port());
        QCOMPARE(session.Request(lan::EncodeLogin("NIGHTDESK", password), 3), "1\r\n");
        QCOMPARE(session.Request(lan::EncodeEmpty(lan::Request::SecurityLevel), 3), "1\r\n"); // Read / Write
        QVERIFY(test::ReadFile(DataFile(kOperatorsFile)).empty());                            // written at OK only
        Field<QPushButton>(dialog, "OK")->click();
        OperatorTable reloaded;
        QCOMPARE(reloaded.LoadOperators(console().dataDir), 1);
        QCOMPARE(GetText(reloaded.Get(0).Password), password);
    }

    // Two real sessions: times past 24 hours, byte counts, and the Total row that stays last however it sorts.
    void monitorShowsTheSessions() {
        console().clock = &clock;
        QVERIFY(server->Start(0));
        operators().Set(0, "ann", "pw", kReadWrite);
        operators().Set(1, "bob", "pw", kReadOnly);
        test::RawClient ann(server->Port());
        test::RawClient bob(server->Port());
        QCOMPARE(ann.Request(lan::EncodeLogin("ann", "pw"), 3), "1\r\n");
        QCOMPARE(bob.Request(lan::EncodeLogin("bob", "pw"), 3), "1\r\n");
        for (int company = 0; company < 2; ++company)
            QCOMPARE(ann.Request(lan::EncodeIndex(lan::Request::ReadCompany, company), 758).size(), size_t(758));
        QCOMPARE(bob.Request(lan::EncodeIndex(lan::Request::ReadGroup, 4), 3), "000");
        clock.Set(1700000000 + 26 * 3600);
        CNetworkMonitorDlg monitor(console(), *server);
        monitor.show();
        auto* list = monitor.findChild<QTreeWidget*>();
        auto rows = [&] {
            QStringList texts;
            for (int k = 0; k < list->topLevelItemCount(); ++k) {
                QTreeWidgetItem* row = list->topLevelItem(k);
                // The IP column holds the host's name when the resolver knows one.
                texts << QStringList{row->text(0), row->text(1).isEmpty() ? "" : "host", row->text(2), row->text(3),
                                     row->text(4)}
                             .join('|');
            }
            return texts;
        };
        const QString annRow = "ann|host|26:00:00|1,519|71", bobRow = "bob|host|26:00:00|6|67",
                      totalRow = "Total|||1,525|138";
        QCOMPARE(rows(), QStringList({annRow, bobRow, totalRow}));
        list->sortByColumn(3, Qt::AscendingOrder);
        QCOMPARE(rows(), QStringList({bobRow, annRow, totalRow}));
        list->sortByColumn(3, Qt::DescendingOrder);
        QCOMPARE(rows(), QStringList({annRow, bobRow, totalRow}));
        QCOMPARE(Field<QLineEdit>(monitor, "Command")->text(), "Read Group");
        QCOMPARE(Field<QLineEdit>(monitor, "Group reads")->text(), "1");
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::UiConfigTest)
#include "ui_config_test.moc"
