// The LAN's dialogs against a real server on loopback: the Network settings, the accounts that log in at once,
// and the monitor of live sessions.
#include "network/net_client.h"
#include "network/protocol.h"
#include "network/server.h"
#include "queue/logs.h"
#include "tests/lan_raw_client.h"
#include "tests/support/fake_clock.h"
#include "tests/ui_dialog_driver.h"
#include "ui/clients_dlg.h"
#include "ui/edit_client_dlg.h"
#include "ui/network_dlg.h"
#include "ui/network_monitor_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <climits>
#include <memory>

namespace brimlow {

using test::Button;
using test::Field;
using test::WhenModal;

class UiConfigNetworkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowHarness> m_env;
    std::unique_ptr<lan::NetServer> m_server;
    test::FakeClock m_clock{1700000000}; // outlives the server's threads

    Console& console() { return m_env->tc.console; }
    OperatorTable& operators() { return m_server->Operators(); }
    QStringList ListRows(QWidget& dialog) {
        QStringList rows;
        auto* list = dialog.findChild<QListWidget*>();
        for (int k = 0; k < list->count(); ++k)
            rows << list->item(k)->text();
        return rows;
    }

private slots:
    void init() {
        m_env = std::make_unique<test::WindowHarness>();
        lan::ServerTimings timings;
        timings.receiveTimeoutMs = 50;
        timings.idleLimitMs = INT_MAX; // sessions outlive the monitor's 26 hours of virtual time
        m_server = std::make_unique<lan::NetServer>(console(), timings);
    }
    void cleanup() {
        m_server->Stop();
        m_server.reset();
        m_env.reset();
    }

    void networkShowsTheStoredAddress_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<int>>("shown");
        QTest::newRow("dotted") << "10.1.2.3" << QList<int>{10, 1, 2, 3};
        QTest::newRow("modulo 256") << "300.1.2.-1" << QList<int>{44, 1, 2, 255};
        QTest::newRow("host name") << "server.local" << QList<int>{0, 0, 0, 0};
        QTest::newRow("empty") << "" << QList<int>{0, 0, 0, 0};
    }
    void networkShowsTheStoredAddress() {
        QFETCH(QString, stored);
        QFETCH(QList<int>, shown);
        console().settings.Update([&](Settings& s) { s.Server = stored.toStdString(); });
        CNetworkDlg dialog(console(), {});
        QList<int> numbers;
        for (QSpinBox* number : dialog.findChildren<QSpinBox*>())
            numbers << number->value();
        QCOMPARE(numbers, shown);
        dialog.accept();
        QCOMPARE(QString::fromStdString(console().settings.Get().Server),
                 QString("%1.%2.%3.%4").arg(shown[0]).arg(shown[1]).arg(shown[2]).arg(shown[3]));
    }

    // Only the connection settings need a restart; the send-via checks apply at once.
    void networkRestartMessage_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("restart");
        for (const char* change : {"Send Via Server", "Send All Via Server"})
            QTest::newRow(change) << change << false;
        for (const char* change : {"Enabled", "Server", "Username", "Password"})
            QTest::newRow(change) << change << true;
    }
    void networkRestartMessage() {
        QFETCH(QString, change);
        QFETCH(bool, restart);
        console().settings.Update([](Settings& s) {
            s.NetworkEnabled = 1;
            s.Server = "10.0.0.5";
            s.Username = "ann";
            s.Password = "pw";
        });
        CNetworkDlg dialog(console(), {});
        if (auto* check = Field<QCheckBox>(dialog, change))
            check->toggle();
        else if (auto* edit = Field<QLineEdit>(dialog, change))
            QTest::keyClicks(edit, "x");
        else
            Field<QSpinBox>(dialog, "Server address, number 4 of 4")->setValue(6);
        dialog.accept();
        Settings s = console().settings.Get();
        QCOMPARE(s.SendViaServer, change == "Send Via Server" ? 1 : 0);
        QCOMPARE(s.SendAllViaServer, change == "Send All Via Server" ? 1 : 0);
        QCOMPARE(s.NetworkEnabled, change == "Enabled" ? 0 : 1);
        QCOMPARE(s.Server, change == "Server" ? "10.0.0.6" : "10.0.0.5");
        QCOMPARE(s.Password, change == "Password" ? "pwx" : "pw");
        QCOMPARE(m_env->op.Shown().size(), size_t(restart ? 1 : 0));
        if (restart) {
            QCOMPARE(m_env->op.Shown()[0].caption, "Brimlow");
            QCOMPARE(m_env->op.Shown()[0].text, "These settings will take effect after you exit and restart Brimlow.");
        }
    }

    void networkRolesEnableTheirControls_data() {
        QTest::addColumn<bool>("server");
        QTest::newRow("client") << false;
        QTest::newRow("server") << true;
    }
    void networkRolesEnableTheirControls() {
        QFETCH(bool, server);
        CNetworkMonitorDlg monitor(console(), *m_server);
        CNetworkDlg dialog(console(), server ? ServerAdmin{m_server.get(), &monitor} : ServerAdmin{});
        QCOMPARE(Button(dialog, "Clients")->isEnabled(), server);
        QCOMPARE(Button(dialog, "View")->isEnabled(), server);
        for (const char* clientField : {"Enabled", "Server address, number 1 of 4", "Username", "Password",
                                        "Send Via Server", "Send All Via Server"})
            QCOMPARE(Field(dialog, clientField)->isEnabled(), !server);
    }

    // Close stops the monitor's refresh, View in the Network dialog shows it and starts it again.
    void viewShowsTheMonitorAgain() {
        CNetworkMonitorDlg monitor(console(), *m_server);
        monitor.show();
        QVERIFY(monitor.Refreshing());
        Button(monitor, "Close")->click();
        QVERIFY(!monitor.isVisible());
        QVERIFY(!monitor.Refreshing());
        CNetworkDlg dialog(console(), {m_server.get(), &monitor});
        Button(dialog, "View")->click();
        QVERIFY(monitor.isVisible());
        QVERIFY(monitor.Refreshing());
    }

    // The server role's window shows the monitor at start-up and hides it at its exit.
    void serverWindowShowsTheMonitorUntilItsExit() {
        QVERIFY(m_server->Start(0)); // takes the port, so the window's own server only notes it cannot listen
        qputenv("BRIMLOW_LAN_PORT", QByteArray::number(m_server->Port()));
        console().serverRole = true;
        m_env->Open();
        qunsetenv("BRIMLOW_LAN_PORT");
        auto monitors = [] {
            int shown = 0;
            for (QWidget* window : QApplication::topLevelWidgets())
                shown += window->windowTitle() == "Network Monitor" && window->isVisible() ? 1 : 0;
            return shown;
        };
        QCOMPARE(monitors(), 1);
        m_env->window.reset();
        QCOMPARE(monitors(), 0);
    }

    void clientsDeleteRow3Of10() {
        for (int k = 0; k < 10; ++k)
            operators().Set(k, "op" + std::to_string(k), "pw", kReadOnly);
        CClientsDlg dialog(console(), operators());
        dialog.findChild<QListWidget*>()->setCurrentRow(3);
        Button(dialog, "Delete")->click();
        QCOMPARE(ListRows(dialog), QStringList({"op0", "op1", "op2", "op4", "op5", "op6", "op7", "op8", "op9"}));
        QCOMPARE(GetText(operators().Get(8).Name), "op9");
        QCOMPARE(GetText(operators().Get(9).Name), "");
        QVERIFY(m_env->op.Shown().empty());                                  // no question
        QVERIFY(test::ReadFile(m_env->tc.DataFile(kOperatorsFile)).empty()); // written at OK only
    }

    // An account added in Clients logs in through a real session at once, with all 30 characters of its
    // password; OK then writes Operators.dat.
    void addedAccountLogsInAtOnce() {
        operators().Set(0, "zed", "pw", kReadOnly);
        QVERIFY(m_server->Start(0));
        const std::string password = "abcdefghij0123456789ABCDEFGHIJ";
        CClientsDlg dialog(console(), operators());
        WhenModal<CEditClientDlg>([&](CEditClientDlg& editor) {
            QCOMPARE(Field<QLineEdit>(editor, "Password")->echoMode(), QLineEdit::Password);
            QTest::keyClicks(Field<QLineEdit>(editor, "Name"), "night desk"); // no blank: it ends a name on the wire
            QTest::keyClicks(Field<QLineEdit>(editor, "Password"), QString::fromStdString(password) + "KLMNO");
            Field<QRadioButton>(editor, "Read / Write")->setChecked(true);
            Button(editor, "Save")->click();
        });
        Button(dialog, "Add")->click();
        QCOMPARE(ListRows(dialog), QStringList({"nightdesk", "zed"}));

        test::TestConsole client(false);
        client.console.settings.Update([&](Settings& s) {
            s.Server = "127.0.0.1";
            s.Username = "NIGHTDESK";
            s.Password = password;
        });
        NetClient link(client.console);
        link.SetPort(m_server->Port());
        QCOMPARE(link.SyncWithServer(), 1);
        QCOMPARE(link.GetSecurityLevel(), int(kReadWrite));

        Button(dialog, "OK")->click();
        OperatorTable reloaded;
        QCOMPARE(reloaded.LoadOperators(console().dataDir), 1);
        QCOMPARE(GetText(reloaded.Get(0).Password), password);
    }

    void editClientLevels_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("checked"); // -1: none
        QTest::addColumn<bool>("save");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QString>("name");
        QTest::newRow("Save keeps the level") << 1 << 1 << true << 1 << "ann2";
        QTest::newRow("unknown level checks none") << 5 << -1 << true << 5 << "ann2";
        QTest::newRow("Cancel stores nothing") << 2 << 2 << false << 2 << "ann";
    }
    void editClientLevels() {
        QFETCH(int, stored);
        QFETCH(int, checked);
        QFETCH(bool, save);
        QFETCH(int, kept);
        QFETCH(QString, name);
        OperatorRecord record{};
        SetText(record.Name, "ann");
        SetText(record.Password, "pw");
        record.Level = static_cast<int16_t>(stored); // as a damaged file may hold it
        test::WriteFile(m_env->tc.DataFile(kOperatorsFile), test::RecordBytes(record));
        QCOMPARE(operators().LoadOperators(console().dataDir), 1);
        CEditClientDlg editor(console(), operators(), 0);
        auto choices = editor.findChildren<QRadioButton*>();
        for (int level = 0; level < 3; ++level)
            QCOMPARE(choices[level]->isChecked(), level == checked);
        QTest::keyClicks(Field<QLineEdit>(editor, "Name"), "2");
        save ? editor.accept() : editor.reject();
        QCOMPARE(operators().Get(0).Level, kept);
        QCOMPARE(QString(operators().Get(0).Name), name);
    }

    // Two real sessions: their times past 24 hours, their byte counts, the Total row that stays last however the
    // list is sorted, the last request and the counters.
    void monitorShowsTheSessions() {
        m_clock.Set(1700000000);
        console().clock = &m_clock;
        QVERIFY(m_server->Start(0));
        operators().Set(0, "ann", "pw", kReadWrite);
        operators().Set(1, "bob", "pw", kReadOnly);
        test::RawClient ann(m_server->Port());
        test::RawClient bob(m_server->Port());
        QCOMPARE(ann.Request(lan::EncodeLogin("ann", "pw"), 3), "1\r\n");
        QCOMPARE(bob.Request(lan::EncodeLogin("bob", "pw"), 3), "1\r\n");
        for (int company = 0; company < 2; ++company)
            QCOMPARE(ann.Request(lan::EncodeIndex(lan::Request::ReadCompany, company), 758).size(), size_t(758));
        QCOMPARE(bob.Request(lan::EncodeIndex(lan::Request::ReadGroup, 4), 3), "000");
        m_clock.Set(1700000000 + 26 * 3600);

        CNetworkMonitorDlg monitor(console(), *m_server);
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
        QCOMPARE(Field<QLineEdit>(monitor, "Subscriber reads")->text(), "0");
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::UiConfigNetworkTest)
#include "ui_config_network_test.moc"
