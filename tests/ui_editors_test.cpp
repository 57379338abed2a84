// The Edit Subsciber and Group dialogs on their own: field limits, the network record's providers and tab
// buttons, and every rule of the member list with its message box.
#include "tests/support/test_console.h"
#include "ui/edit_subscriber_dlg.h"
#include "ui/group_dlg.h"
#include "ui/qt_operator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>

namespace brimlow {

class EditorsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TestConsole> tc;
    QtOperator op;
    int team = 0;

    template <typename T> static T* Named(QWidget* dialog, const QString& name) {
        for (T* widget : dialog->findChildren<T*>())
            if (widget->accessibleName() == name)
                return widget;
        return nullptr;
    }
    QStringList Shown() {
        QStringList texts;
        for (const QtOperator::ShownMessage& shown : op.Shown())
            texts << shown.caption + ": " + shown.text;
        op.ClearShown();
        return texts;
    }
    static QStringList Items(QListWidget* list) {
        QStringList items;
        for (int row = 0; row < list->count(); ++row)
            items << list->item(row)->text();
        return items;
    }

private slots:
    void init() {
        tc = std::make_unique<test::TestConsole>(false);
        op.SetScripted(true);
        op.ClearShown();
        tc->console.op = &op;
        tc->console.settings.Update([](Settings& s) { s.Tab3 = "Night"; });
        Directory& local = *tc->console.local;
        local.companies[0] = test::MakeCompany("Metro");
        local.companies[1] = test::MakeCompany("Rural");
        tc->console.network->companies[0] = test::MakeCompany("Server's own");
        AddSubscriber(local, test::MakeSubscriber("Ann", 1));
        AddSubscriber(local, test::MakeSubscriber("bob", 0));
        team = test::AddGroup(local, "Team", {"carl", "Bob", "alice"});
        AddSubscriber(local, test::MakeSubscriber("Zed", 0));
        SortSubscribers(local);
    }
    void cleanup() { tc.reset(); }

    void subscriberFieldsKeepTheirLengths_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("accepted");
        QTest::addColumn<int>("stored");
        QTest::newRow("Name") << "Name" << 80 << 78;
        QTest::newRow("Company") << "Company" << 80 << 79;
        QTest::newRow("Email") << "Email" << 80 << 79;
        QTest::newRow("City") << "City" << 40 << 39;
        QTest::newRow("ZIP") << "ZIP" << 20 << 19;
        QTest::newRow("PIN") << "PIN" << 20 << 19;
    }
    void subscriberFieldsKeepTheirLengths() {
        QFETCH(QString, field);
        QFETCH(int, accepted);
        QFETCH(int, stored);
        CEditSubscriberDlg dialog(tc->console, test::MakeSubscriber("Ann", 1, "1", 2));
        auto* edit = Named<QLineEdit>(&dialog, field);
        QVERIFY(edit);
        edit->clear();
        QTest::keyClicks(edit, QString(100, '7'));
        QCOMPARE(edit->text().size(), accepted);
        if (field != "Name")
            Named<QLineEdit>(&dialog, "Name")->setText("Ann");
        dialog.accept();
        SubscriberRecord record = dialog.Record();
        const std::map<QString, std::string> kept = {
            {"Name", GetText(record.Name)},   {"Company", GetText(record.CompanyName)},
            {"Email", GetText(record.Email)}, {"City", GetText(record.City)},
            {"ZIP", GetText(record.ZIP)},     {"PIN", GetText(record.PIN)}};
        QCOMPARE(static_cast<int>(kept.at(field).size()), stored);
        QCOMPARE(record.Company, 1);
        QCOMPARE(record.Tab, 2);
    }

    void subscriberDialogChoosesTabAndProviderFromTheRightTable() {
        CEditSubscriberDlg dialog(tc->console, test::MakeSubscriber("Ann", 1, "12ab", 0));
        QCOMPARE(dialog.windowTitle(), QString("Edit Subsciber"));
        auto* pin = Named<QLineEdit>(&dialog, "PIN");
        pin->clear();
        QTest::keyClicks(pin, "12ab34");
        QCOMPARE(pin->text(), QString("1234"));
        auto* company = Named<QComboBox>(&dialog, "Paging company");
        QCOMPARE(company->count(), 2);
        QCOMPARE(company->currentText(), QString("Rural"));
        company->setCurrentIndex(0);
        QList<QRadioButton*> tabs = dialog.findChildren<QRadioButton*>();
        QCOMPARE(tabs[2]->text(), QString("Night"));
        tabs[2]->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.Record().Company, 0);
        QCOMPARE(dialog.Record().Tab, 2);

        CEditSubscriberDlg cancelled(tc->console, test::MakeSubscriber("Ann", 1));
        cancelled.reject();
        QVERIFY(IsEmptyText(cancelled.Record().Name));

        // A record of the network directory: the server's providers, and no tab to choose.
        CEditSubscriberDlg remote(tc->console, test::MakeSubscriber("Remote", 0, "1", kNetworkTab));
        QCOMPARE(Named<QComboBox>(&remote, "Paging company")->currentText(), QString("Server's own"));
        for (QRadioButton* tab : remote.findChildren<QRadioButton*>())
            QVERIFY(!tab->isEnabled());
        remote.accept();
        QCOMPARE(remote.Record().Tab, kNetworkTab);
    }

    // Every refusal of the member list, in the order an operator meets them; the members stay sorted.
    void groupMemberRules() {
        CGroupDlg dialog(tc->console, "Team", team, 1);
        auto* subscribers = Named<QListWidget>(&dialog, "Subscribers");
        auto* members = Named<QListWidget>(&dialog, "Group Members");
        QCOMPARE(Items(subscribers), QStringList({"Ann", "bob", "Team", "Zed"}));
        QCOMPARE(Items(members), QStringList({"alice", "Bob", "carl"}));
        QVERIFY(dialog.findChildren<QRadioButton*>()[1]->isChecked());

        dialog.AddMember();
        subscribers->item(0)->setSelected(true);
        subscribers->item(1)->setSelected(true);
        dialog.AddMember();
        subscribers->clearSelection();
        subscribers->item(2)->setSelected(true);
        dialog.AddMember();
        QCOMPARE(Shown(), QStringList({"Morrow SNPP: You must select a subscriber to add!",
                                       "Morrow SNPP: Only one subscriber can be deleted at a time!",
                                       "Error: A group cannot be a member of a group!"}));

        subscribers->clearSelection();
        subscribers->item(3)->setSelected(true);
        emit subscribers->itemDoubleClicked(subscribers->item(3));
        QCOMPARE(Items(members), QStringList({"alice", "Bob", "carl", "Zed"}));
        members->item(0)->setSelected(true);
        members->item(1)->setSelected(true);
        dialog.RemoveMember();
        QCOMPARE(Shown(), QStringList({"Morrow SNPP: Only one subscriber can be deleted at a time!"}));
        members->clearSelection();
        members->item(1)->setSelected(true);
        dialog.RemoveMember();
        QCOMPARE(Items(members), QStringList({"alice", "carl", "Zed"}));

        for (int m = 3; m < kGroupMembers; ++m)
            SetText(tc->console.local->groups[team].Members[m], "x");
        dialog.AddMember();
        QCOMPARE(Shown(), QStringList({"Error: Group is full!"}));

        dialog.findChildren<QRadioButton*>()[2]->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.Name(), QString("Team"));
        QCOMPARE(dialog.Tab(), 2);
    }

    void anEmptiedGroupHandsBackNoName_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void anEmptiedGroupHandsBackNoName() {
        QFETCH(bool, ok);
        CGroupDlg dialog(tc->console, "Team", team, 0);
        auto* members = Named<QListWidget>(&dialog, "Group Members");
        while (members->count() > 0) {
            members->item(0)->setSelected(true);
            emit members->itemDoubleClicked(members->item(0));
        }
        ok ? dialog.accept() : dialog.reject();
        QCOMPARE(dialog.Name(), QString());
        QCOMPARE(Shown(), QStringList({"Error: This group is empty and will be deleted!"}));
    }
};

} // namespace brimlow

QTEST_MAIN(brimlow::EditorsTest)
#include "ui_editors_test.moc"
