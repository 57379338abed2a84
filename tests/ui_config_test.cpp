// The configuration dialogs on a real data directory: what each stores, what Cancel and Escape keep, and that
// every one of them is usable by keyboard and screen reader.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "network/server.h"
#include "tests/support/test_console.h"
#include "tests/ui_dialog_driver.h"
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
#include "ui/qt_operator.h"
#include "ui/tabs_dlg.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <memory>

namespace brimlow {

using test::Button;
using test::WhenShown;
using DialogFactory = std::function<QDialog*(Console&, lan::NetServer&)>;

class UiConfigTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestConsole> m_tc;
    std::unique_ptr<QtOperator> m_op;

    Console& console() { return m_tc->console; }
    Directory& local() { return *console().local; }
    std::vector<QtOperator::ShownMessage> Shown() const { return m_op->Shown(); }

    // Providers P0..P4; subscribers A..E each with the provider of their position, and a group entry G.
    void FiveProviders() {
        for (int k = 0; k < 5; ++k) {
            local().companies[k] = test::MakeCompany("P" + std::to_string(k));
            AddSubscriber(local(), test::MakeSubscriber(std::string(1, char('A' + k)), k));
        }
        test::AddGroup(local(), "G", {"A", "B"});
    }
    std::vector<std::string> CompanyNames() {
        std::vector<std::string> names;
        for (const CompanyRecord& c : local().companies)
            if (!IsEmptyText(c.Name))
                names.push_back(GetText(c.Name));
        return names;
    }
    std::string DataFile(const std::string& name) { return m_tc->DataFile(name); }

private slots:
    void init() {
        m_tc = std::make_unique<test::TestConsole>(false);
        m_op = std::make_unique<QtOperator>();
        m_op->SetScripted(true);
        console().op = m_op.get();
    }
    void cleanup() {
        m_tc.reset();
        m_op.reset();
    }

    void launcherOpensEachDialog_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::newRow("providers") << "Providers"
                                   << "Providers";
        QTest::newRow("modem") << "Modem"
                               << "Modem Settings";
        QTest::newRow("e-mail") << "E-mail"
                                << "Email Settings";
        QTest::newRow("tabs") << "Tabs"
                              << "Tabs";
        QTest::newRow("utility") << "Utility"
                                 << "Database Utilities";
        QTest::newRow("network") << "Network"
                                 << "Network";
    }
    void launcherOpensEachDialog() {
        QFETCH(QString, button);
        QFETCH(QString, title);
        CConfigureDlg launcher(console(), {});
        QString seen;
        WhenShown<QDialog>([&](QDialog& dialog) {
            seen = dialog.windowTitle();
            dialog.reject();
            WhenShown<CConfigureDlg>([](CConfigureDlg& back) { Button(back, "OK")->click(); });
        });
        QTimer::singleShot(0, [&] { Button(launcher, button)->click(); });
        QCOMPARE(launcher.exec(), int(QDialog::Accepted));
        QCOMPARE(seen, title);
    }

    void everyControlIsNamedAndF1OpensTheManual_data() {
        QTest::addColumn<DialogFactory>("make");
        auto row = [](const char* name, DialogFactory make) { QTest::newRow(name) << make; };
        row("Configure", [](Console& c, lan::NetServer&) { return new CConfigureDlg(c, {}); });
        row("Providers", [](Console& c, lan::NetServer&) { return new CProvidersDlg(c); });
        row("Edit Company", [](Console& c, lan::NetServer&) { return new CEditCompanyDlg(c, CompanyRecord{}, 0); });
        row("Modem Settings", [](Console& c, lan::NetServer&) { return new CModemSettingsDlg(c); });
        row("Email Settings", [](Console& c, lan::NetServer&) { return new CEmailSettingsDlg(c); });
        row("Tabs", [](Console& c, lan::NetServer&) { return new CTabsDlg(c); });
        row("Database Utilities", [](Console& c, lan::NetServer&) { return new CDatabaseDlg(c, nullptr); });
        row("Network", [](Console& c, lan::NetServer&) { return new CNetworkDlg(c, {}); });
        row("Clients", [](Console& c, lan::NetServer& s) { return new CClientsDlg(c, s.Operators()); });
        row("Edit Client", [](Console& c, lan::NetServer& s) { return new CEditClientDlg(c, s.Operators(), 0); });
        row("Network Monitor", [](Console& c, lan::NetServer& s) { return new CNetworkMonitorDlg(c, s); });
    }
    void everyControlIsNamedAndF1OpensTheManual() {
        QFETCH(DialogFactory, make);
        local().companies[0] = test::MakeCompany("P0");
        lan::NetServer server(console());
        server.Operators().Set(0, "ann", "pw", kReadOnly);
        std::unique_ptr<QDialog> dialog(make(console(), server));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        for (QWidget* control : dialog->findChildren<QWidget*>()) {
            // A spin box's or combo box's own line edit is announced through its owner.
            bool inner = qobject_cast<QAbstractSpinBox*>(control->parentWidget()) ||
                         qobject_cast<QComboBox*>(control->parentWidget());
            if (control->focusPolicy() != Qt::NoFocus && !inner && control->isVisibleTo(dialog.get()))
                QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
        }
        test::UrlCatcher urls;
        QTest::keyClick(dialog.get(), Qt::Key_F1);
        QCOMPARE(urls.opened.size(), size_t(1));
        QCOMPARE(urls.opened[0].toLocalFile(), QString::fromStdString(DataFile("Brimlow.PDF")));
    }

    void modemSettings_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("init");
        QTest::addColumn<QString>("dial");
        QTest::newRow("OK stores the index and the first 79 and 29 characters")
            << true << 2 << QString(79, 'I') << QString(29, 'D');
        QTest::newRow("Cancel keeps the port and the strings") << false << 0 << "ATE0M0"
                                                               << "ATDT";
    }
    void modemSettings() {
        QFETCH(bool, ok);
        QFETCH(int, port);
        QFETCH(QString, init);
        QFETCH(QString, dial);
        SetText(console().modem.InitString, kDefaultInitString);
        SetText(console().modem.DialPrefix, kDefaultDialPrefix);
        CModemSettingsDlg dialog(console());
        auto* combo = dialog.findChild<QComboBox*>();
        auto edits = dialog.findChildren<QLineEdit*>();
        QCOMPARE(combo->currentText(), "COM1");
        combo->setCurrentIndex(2);
        edits[0]->setText(QString(100, 'I'));
        edits[1]->setText(QString(100, 'D'));
        QCOMPARE(edits[0]->text().size(), 80); // accepted while typing, cut at OK
        QCOMPARE(edits[1]->text().size(), 30);
        ok ? dialog.accept() : dialog.reject();
        QCOMPARE(console().settings.Get().ModemPort, port);
        QCOMPARE(GetText(console().modem.InitString), init.toStdString());
        QCOMPARE(GetText(console().modem.DialPrefix), dial.toStdString());
    }

    void modemPortOutOfRangeSelectsNothing() {
        console().settings.Update([](Settings& s) { s.ModemPort = 7; });
        CModemSettingsDlg dialog(console());
        QCOMPARE(dialog.findChild<QComboBox*>()->currentIndex(), -1);
        dialog.accept();
        QCOMPARE(console().settings.Get().ModemPort, -1);
    }

    void emailSettingsStoreTheirValues() {
        CEmailSettingsDlg dialog(console());
        auto edits = dialog.findChildren<QLineEdit*>();
        QTest::keyClicks(edits[0], "mail.example.org");
        QTest::keyClicks(edits[1], "Dispatch Desk");
        QTest::keyClicks(edits[2], "desk@example.org");
        dialog.accept();
        Settings s = console().settings.Get();
        QCOMPARE(s.OutboundMailServer, "mail.example.org");
        QCOMPARE(s.UserName, "Dispatch Desk");
        QCOMPARE(s.ReturnAddress, "desk@example.org");
    }

    void tabsStoreOnOkOnly_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("tab2");
        QTest::newRow("OK") << true << "Night Shift";
        QTest::newRow("Escape") << false << "Tab2";
    }
    void tabsStoreOnOkOnly() {
        QFETCH(bool, ok);
        QFETCH(QString, tab2);
        CTabsDlg dialog(console());
        dialog.show();
        auto edits = dialog.findChildren<QLineEdit*>();
        edits[1]->setText("Night Shift");
        QCOMPARE(Button(dialog, "Cancel"), nullptr);
        if (ok)
            Button(dialog, "OK")->click();
        else
            QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(console().settings.Get().Tab2, tab2.toStdString());
        QCOMPARE(console().settings.Get().Tab1, "Tab1");
    }

    void providersDelete_data() {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QStringList>("companies");
        QTest::addColumn<QList<int>>("subscribers"); // Company of A..E, then of the group entry
        QTest::newRow("Yes renumbers") << QList<int>{2} << true << "Delete this provider?\nP2"
                                       << QStringList{"P0", "P1", "P3", "P4"} << QList<int>{0, 1, 0, 2, 3, -1};
        QTest::newRow("No keeps") << QList<int>{2} << false << "Delete this provider?\nP2"
                                  << QStringList{"P0", "P1", "P2", "P3", "P4"} << QList<int>{0, 1, 2, 3, 4, -1};
        QTest::newRow("two selected") << QList<int>{1, 3} << true << "Only one provider can be deleted at a time!"
                                      << QStringList{"P0", "P1", "P2", "P3", "P4"} << QList<int>{0, 1, 2, 3, 4, -1};
    }
    void providersDelete() {
        QFETCH(QList<int>, rows);
        QFETCH(bool, yes);
        QFETCH(QString, asked);
        QFETCH(QStringList, companies);
        QFETCH(QList<int>, subscribers);
        FiveProviders();
        CProvidersDlg dialog(console());
        auto* list = dialog.findChild<QListWidget*>();
        list->clearSelection();
        for (int row : rows)
            list->item(row)->setSelected(true);
        m_op->QueueAnswer(yes);
        Button(dialog, "Delete")->click();
        QCOMPARE(Shown().size(), size_t(1));
        QCOMPARE(Shown()[0].caption, "Morrow SNPP");
        QCOMPARE(Shown()[0].text, asked);
        QStringList names;
        for (const std::string& name : CompanyNames())
            names << QString::fromStdString(name);
        QCOMPARE(names, companies);
        QCOMPARE(list->count(), companies.size());
        QList<int> numbers;
        for (const char* name : {"A", "B", "C", "D", "E", "G"})
            for (const SubscriberRecord& s : local().subscribers)
                if (GetText(s.Name) == name)
                    numbers << s.Company;
        QCOMPARE(numbers, subscribers);
    }

    void newProviderTakesTheFirstFreeSlot() {
        local().companies[0] = test::MakeCompany("P0");
        local().companies[2] = test::MakeCompany("P2");
        CProvidersDlg dialog(console());
        WhenShown<CEditCompanyDlg>([](CEditCompanyDlg& editor) {
            auto edits = editor.findChildren<QLineEdit*>();
            QCOMPARE(edits[0]->text(), "");    // Name
            QCOMPARE(edits[2]->text(), "444"); // Socket
            QCOMPARE(editor.findChildren<QComboBox*>()[0]->currentText(), "COM1");
            QCOMPARE(editor.findChildren<QComboBox*>()[1]->currentText(), "9600");
            QVERIFY(!editor.findChild<QCheckBox*>()->isChecked());
            QTest::keyClicks(edits[0], "Harbor Wireless");
            editor.accept();
        });
        Button(dialog, "New")->click();
        const CompanyRecord& added = local().companies[1];
        QCOMPARE(GetText(added.Name), "Harbor Wireless");
        QCOMPARE(added.Socket, 444);
        QCOMPARE(added.Baud, 9600);
        QCOMPARE(added.Port, 0);
        QCOMPARE(dialog.findChild<QListWidget*>()->count(), 3);
    }

    // A double-click edits the provider: baud 0 shows and stores 9600; the fields the editor does not show come
    // back untouched; Socket takes digits only, up to 65535.
    void editCompanyRoundTrip() {
        CompanyRecord given = test::MakeCompany("Metro Paging", "snpp.example", 444);
        given.Baud = 0;
        given.MaxChars = 123;
        given.QueueFolderFlag = 1;
        given.TwoWay = 1;
        given.Port = 3;
        local().companies[0] = given;
        CProvidersDlg dialog(console());
        auto* list = dialog.findChild<QListWidget*>();
        WhenShown<CEditCompanyDlg>([](CEditCompanyDlg& editor) {
            QLineEdit* socket = editor.findChildren<QLineEdit*>()[2];
            QCOMPARE(editor.findChildren<QComboBox*>()[1]->currentText(), "9600");
            QCOMPARE(editor.findChildren<QComboBox*>()[0]->currentText(), "COM4");
            socket->clear();
            QTest::keyClicks(socket, "4x00009");
            QCOMPARE(socket->text(), "40000");
            editor.accept();
        });
        QPoint row = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
        const CompanyRecord& stored = local().companies[0];
        QCOMPARE(stored.Baud, 9600);
        QCOMPARE(static_cast<uint16_t>(stored.Socket), 40000);
        QCOMPARE(stored.MaxChars, 123);
        QCOMPARE(stored.QueueFolderFlag, 1);
        QCOMPARE(stored.TwoWay, 1);
        QCOMPARE(stored.Port, 3);
        QCOMPARE(GetText(stored.Address), "snpp.example");
    }

    void editCompanyCancelHandsBackNoName() {
        CEditCompanyDlg editor(console(), test::MakeCompany("Metro Paging"), 0);
        editor.findChildren<QLineEdit*>()[0]->setText("Renamed");
        editor.reject();
        QCOMPARE(GetText(editor.Result().Name), "");
    }

    void purgeQueueEmptiesThatProvidersFolder() {
        for (int k = 0; k < 2; ++k) {
            local().companies[k] = test::MakeCompany("P" + std::to_string(k));
            local().companies[k].QueueFolderFlag = 1;
            test::WritePage(console(), DataFile(std::to_string(k)), "MSG", test::MakeSubscriber("A", k), "text");
        }
        CEditCompanyDlg editor(console(), local().companies[1], 1);
        Button(editor, "Purge Queue")->click();
        QCOMPARE(test::ListDir(DataFile("1")).size(), size_t(0));
        QCOMPARE(test::ListDir(DataFile("0")).size(), size_t(1));
    }

    // Export and import through the dialog leave the bytes that "brimlow export" writes.
    void databaseExportAndImportMatchTheCommandLine() {
        FiveProviders();
        QVERIFY(SaveDirectoryFiles(console().dataDir, local(), console().modem));
        QVERIFY(SaveCompanyFile(console().dataDir, local()));
        test::RunResult cli = test::RunBrimlow({"--data", console().dataDir, "export", "--companies", DataFile("c"),
                                                "--subscribers", DataFile("s"), "--groups", DataFile("g")});
        QCOMPARE(cli.status, 0);

        CDatabaseDlg dialog(console(), nullptr);
        auto paths = dialog.findChildren<QLineEdit*>();
        auto setPaths = [&](const std::string& suffix) {
            paths[0]->setText(QString::fromStdString(DataFile("c" + suffix)));
            paths[1]->setText(QString::fromStdString(DataFile("s" + suffix)));
            paths[2]->setText(QString::fromStdString(DataFile("g" + suffix)));
        };
        auto sameAsCli = [&](const std::string& suffix) {
            for (const char* f : {"c", "s", "g"})
                QCOMPARE(test::ReadFile(DataFile(f + suffix)), test::ReadFile(DataFile(f)));
        };
        setPaths("1");
        Button(dialog, "Export")->click();
        sameAsCli("1");
        QCOMPARE(dialog.findChildren<QLineEdit*>()[3]->text(), "5"); // exported companies

        local().Clear();
        setPaths("");
        Button(dialog, "Import")->click();
        QCOMPARE(CompanyNames().size(), size_t(5));
        QCOMPARE(dialog.findChildren<QLineEdit*>()[4]->text(), "5"); // imported companies
        setPaths("2");
        Button(dialog, "Export")->click();
        sameAsCli("2");
        QVERIFY(Shown().empty());
    }

    void databaseMessages_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("written");
        const QString question = kExportOverwriteQuestion;
        QTest::newRow("overwrite No") << "Export"
                                      << "existing" << false << QStringList{question} << false;
        QTest::newRow("overwrite Yes") << "Export"
                                       << "existing" << true << QStringList{question} << true;
        QTest::newRow("export fails") << "Export"
                                      << "missing/x" << true << QStringList{kExportOpenError} << false;
        QTest::newRow("import fails") << "Import"
                                      << "missing/x" << true << QStringList{kImportOpenError} << false;
    }
    void databaseMessages() {
        QFETCH(QString, button);
        QFETCH(QString, path);
        QFETCH(bool, yes);
        QFETCH(QStringList, texts);
        QFETCH(bool, written);
        test::WriteFile(DataFile("existing"), "old");
        CDatabaseDlg dialog(console(), nullptr);
        for (QLineEdit* field : dialog.findChildren<QLineEdit*>().mid(0, 3))
            field->setText(QString::fromStdString(DataFile(path.toStdString())));
        m_op->QueueAnswer(yes);
        Button(dialog, button)->click();
        QStringList shown;
        for (const QtOperator::ShownMessage& m : Shown()) {
            QCOMPARE(m.caption, "Database Export");
            shown << m.text;
        }
        QCOMPARE(shown, texts);
        QCOMPARE(test::ReadFile(DataFile("existing")) != "old", written);
    }

    void browsePutsTheChosenPathIntoTheField() {
        CDatabaseDlg dialog(console(), nullptr);
        const QString chosen = QString::fromStdString(DataFile("backup"));
        WhenShown<QFileDialog>([&](QFileDialog& chooser) {
            chooser.selectFile(chosen);
            static_cast<QDialog&>(chooser).accept(); // the chooser's own accept takes the selection
        });
        dialog.findChildren<QPushButton*>()[1]->click(); // the subscriber file's Browse
        QCOMPARE(dialog.findChildren<QLineEdit*>()[1]->text(), chosen + ".brw");
    }
};

} // namespace brimlow

Q_DECLARE_METATYPE(brimlow::DialogFactory)
QTEST_MAIN(brimlow::UiConfigTest)
#include "ui_config_test.moc"
