// The configuration dialogs on a real data directory: what each stores, what Cancel and Escape keep, and that
// every one of them is usable by keyboard and screen reader.
#include "directory/csv.h"
#include "directory/data_files.h"
#include "network/server.h"
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
#include "ui/tabs_dlg.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTest>
#include <memory>

namespace brimlow {

using test::Button;
using test::Field;
using test::WhenModal;
using DialogFactory = std::function<QDialog*(Console&, lan::NetServer&)>;

class UiConfigTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::WindowHarness> m_env;

    Console& console() { return m_env->tc.console; }
    Directory& local() { return *console().local; }
    std::vector<QtOperator::ShownMessage> Shown() const { return m_env->op.Shown(); }

    // Providers P0..P4; subscribers A..E each with the provider of their position, and a group entry G.
    void FiveProviders() {
        for (int k = 0; k < 5; ++k) {
            local().companies[k] = test::MakeCompany("P" + std::to_string(k));
            AddSubscriber(local(), test::MakeSubscriber(std::string(1, char('A' + k)), k));
        }
        test::AddGroup(local(), "G", {"A", "B"});
    }
    QStringList CompanyNames() {
        QStringList names;
        for (const CompanyRecord& c : local().companies)
            if (!IsEmptyText(c.Name))
                names << c.Name;
        return names;
    }
    std::string DataFile(const std::string& name) { return m_env->tc.DataFile(name); }

private slots:
    void init() { m_env = std::make_unique<test::WindowHarness>(); }
    void cleanup() { m_env.reset(); }

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
        WhenModal<QDialog>([&](QDialog& dialog) {
            seen = dialog.windowTitle();
            dialog.reject();
            WhenModal<CConfigureDlg>([](CConfigureDlg& back) { Button(back, "OK")->click(); });
        });
        QTimer::singleShot(0, [&] { Button(launcher, button)->click(); });
        QCOMPARE(launcher.exec(), int(QDialog::Accepted));
        QCOMPARE(seen, title);
    }

    // The main window's Configure: a renamed Tab 2 shows when the launcher closes, with the same tab selected.
    void renamedTabShowsOnTheMainWindow() {
        test::WindowHarness& h = *m_env;
        CMainDlg& window = h.Open();
        h.SelectTab(1);
        WhenModal<CConfigureDlg>([](CConfigureDlg& launcher) {
            WhenModal<CTabsDlg>([&launcher](CTabsDlg& tabs) {
                Field<QLineEdit>(tabs, "Tab 2")->setText("Night Shift");
                tabs.accept();
                WhenModal<CConfigureDlg>([](CConfigureDlg& back) { back.accept(); });
            });
            Button(launcher, "Tabs")->click();
        });
        h.Click("Configure");
        auto* tabs = window.findChild<QTabBar*>();
        QCOMPARE(tabs->tabText(1), "Night Shift");
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(h.tc.console.currentTab.load(), 1);
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

    // Each settings dialog stores its fields on OK (cut to what they store) and nothing on Cancel or Escape.
    void settingsDialogs_data() {
        QTest::addColumn<DialogFactory>("make");
        QTest::addColumn<int>("storedPort");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("stored"); // port|init|dial|server|name|address|tab1|tab2|tab3
        DialogFactory modem = [](Console& c, lan::NetServer&) { return new CModemSettingsDlg(c); };
        DialogFactory email = [](Console& c, lan::NetServer&) { return new CEmailSettingsDlg(c); };
        DialogFactory tabs = [](Console& c, lan::NetServer&) { return new CTabsDlg(c); };
        const QString unchanged = "0|ATE0M0|ATDT||||Tab1|Tab2|Tab3";
        auto x = [](int n) { return QString(n, 'x'); };
        QTest::newRow("Modem OK") << modem << 0 << "OK"
                                  << "2|" + x(79) + "|" + x(29) + "||||Tab1|Tab2|Tab3";
        QTest::newRow("Modem Cancel") << modem << 0 << "Cancel" << unchanged;
        QTest::newRow("Modem port 7") << modem << 7 << "OK"
                                      << "-1|" + x(79) + "|" + x(29) + "||||Tab1|Tab2|Tab3";
        QTest::newRow("Email OK") << email << 0 << "OK"
                                  << "0|ATE0M0|ATDT|" + x(80) + "|" + x(80) + "|" + x(80) + "|Tab1|Tab2|Tab3";
        QTest::newRow("Email Escape") << email << 0 << "Escape" << unchanged;
        QTest::newRow("Tabs OK") << tabs << 0 << "OK"
                                 << "0|ATE0M0|ATDT||||" + x(100) + "|" + x(100) + "|" + x(100);
        QTest::newRow("Tabs Escape") << tabs << 0 << "Escape" << unchanged;
    }
    void settingsDialogs() {
        QFETCH(DialogFactory, make);
        QFETCH(int, storedPort);
        QFETCH(QString, close);
        QFETCH(QString, stored);
        SetText(console().modem.InitString, kDefaultInitString);
        SetText(console().modem.DialPrefix, kDefaultDialPrefix);
        console().settings.Update([&](Settings& s) { s.ModemPort = storedPort; });
        lan::NetServer server(console());
        std::unique_ptr<QDialog> dialog(make(console(), server));
        dialog->show();
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
            Button(*dialog, close)->click();
        QVERIFY(!dialog->isVisible());
        Settings s = console().settings.Get();
        QStringList now{QString::number(s.ModemPort), QString(console().modem.InitString),
                        QString(console().modem.DialPrefix)};
        for (const std::string* text :
             {&s.OutboundMailServer, &s.UserName, &s.ReturnAddress, &s.Tab1, &s.Tab2, &s.Tab3})
            now << QString::fromStdString(*text);
        QCOMPARE(now.join('|'), stored);
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
        m_env->op.QueueAnswer(yes);
        Button(dialog, "Delete")->click();
        QCOMPARE(Shown().size(), size_t(1));
        QCOMPARE(Shown()[0].caption, "Morrow SNPP");
        QCOMPARE(Shown()[0].text, asked);
        QCOMPARE(CompanyNames(), companies);
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
        QStringList shown;
        WhenModal<CEditCompanyDlg>([&](CEditCompanyDlg& editor) {
            for (const char* name : {"Name", "Socket"})
                shown << Field<QLineEdit>(editor, name)->text();
            for (const char* name : {"Port", "Baud"})
                shown << Field<QComboBox>(editor, name)->currentText();
            shown << (Field<QCheckBox>(editor, "Two Way")->isChecked() ? "two-way" : "one-way");
            QTest::keyClicks(Field<QLineEdit>(editor, "Name"), "Harbor Wireless");
            editor.accept();
        });
        Button(dialog, "New")->click();
        QCOMPARE(shown, QStringList({"", "444", "COM1", "9600", "one-way"}));
        const CompanyRecord& added = local().companies[1];
        QCOMPARE(GetText(added.Name), "Harbor Wireless");
        QCOMPARE(added.Socket, 444);
        QCOMPARE(added.Baud, 9600);
        QCOMPARE(added.Port, 0);
        QCOMPARE(dialog.findChild<QListWidget*>()->count(), 3);
    }

    // A double-click edits the provider. OK: a stored baud 0 shows and stores 9600, Socket takes digits only up
    // to 65535, and the fields the editor does not show come back untouched. Cancel stores nothing.
    void editCompany_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void editCompany() {
        QFETCH(bool, ok);
        CompanyRecord given = test::MakeCompany("Metro Paging", "snpp.example", 444);
        given.Baud = 0;
        given.MaxChars = 123;
        given.QueueFolderFlag = 1;
        given.TwoWay = 1;
        given.Port = 3;
        local().companies[0] = given;
        CProvidersDlg dialog(console());
        auto* list = dialog.findChild<QListWidget*>();
        WhenModal<CEditCompanyDlg>([ok](CEditCompanyDlg& editor) {
            auto* socket = Field<QLineEdit>(editor, "Socket");
            QCOMPARE(Field<QComboBox>(editor, "Baud")->currentText(), "9600");
            QCOMPARE(Field<QComboBox>(editor, "Port")->currentText(), "COM4");
            socket->clear();
            QTest::keyClicks(socket, "4x00009");
            QCOMPARE(socket->text(), "40000");
            ok ? editor.accept() : editor.reject();
        });
        QPoint row = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
        CompanyRecord expected = given;
        if (ok) {
            expected.Baud = 9600;
            expected.Socket = static_cast<int16_t>(40000);
        }
        QCOMPARE(test::RecordBytes(local().companies[0]), test::RecordBytes(expected));
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
        const std::pair<const char*, std::string> files[] = {
            {"Company file", "c"}, {"Subscriber file", "s"}, {"Group file", "g"}};
        auto run = [&](const QString& button, const std::string& suffix) {
            for (const auto& [field, name] : files)
                Field<QLineEdit>(dialog, field)->setText(QString::fromStdString(DataFile(name + suffix)));
            Button(dialog, button)->click();
            for (const auto& [field, name] : files)
                QCOMPARE(test::ReadFile(DataFile(name + suffix)), test::ReadFile(DataFile(name)));
        };
        run("Export", "1");
        QCOMPARE(Field<QLineEdit>(dialog, "Exported subscribers")->text(), "6");
        local().Clear();
        run("Import", "");
        QCOMPARE(Field<QLineEdit>(dialog, "Imported companies")->text(), "5");
        run("Export", "2");
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
        for (const char* file : {"Company file", "Subscriber file", "Group file"})
            Field<QLineEdit>(dialog, file)->setText(QString::fromStdString(DataFile(path.toStdString())));
        m_env->op.QueueAnswer(yes);
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
        WhenModal<QFileDialog>([&](QFileDialog& chooser) {
            chooser.selectFile(chosen);
            static_cast<QDialog&>(chooser).accept(); // the chooser's own accept takes the selection
        });
        Field<QPushButton>(dialog, "Browse for the subscriber file")->click();
        QCOMPARE(Field<QLineEdit>(dialog, "Subscriber file")->text(), chosen + ".brw");
    }
};

} // namespace brimlow

Q_DECLARE_METATYPE(brimlow::DialogFactory)
QTEST_MAIN(brimlow::UiConfigTest)
#include "ui_config_test.moc"
