// The configuration dialogs on a real data directory: what each stores, what Cancel and Escape keep.
#include "directory/data_files.h"
#include "tests/support/test_console.h"
#include "tests/ui_dialog_driver.h"
#include "ui/configure_dlg.h"
#include "ui/email_settings_dlg.h"
#include "ui/modem_settings_dlg.h"
#include "ui/qt_operator.h"
#include "ui/tabs_dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <memory>

namespace brimlow {

using test::Button;
using test::WhenShown;

class UiConfigTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestConsole> m_tc;
    QtOperator m_op;

    Console& console() { return m_tc->console; }

private slots:
    void init() {
        m_tc = std::make_unique<test::TestConsole>(false);
        m_op.SetScripted(true);
        m_op.ClearShown();
        console().op = &m_op;
    }
    void cleanup() { m_tc.reset(); }

    void launcherOpensEachDialog_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::newRow("modem") << "Modem"
                               << "Modem Settings";
        QTest::newRow("e-mail") << "E-mail"
                                << "Email Settings";
        QTest::newRow("tabs") << "Tabs"
                              << "Tabs";
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
};

} // namespace brimlow

QTEST_MAIN(brimlow::UiConfigTest)
#include "ui_config_test.moc"
