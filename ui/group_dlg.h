#pragma once
// "Group": one group's name, tab and members. The members are edited in place in the group slot (of the
// network directory when the tab value is 3), each change under "DatabaseLock"; Cancel, or a group left
// without members, hands back an empty name: no entry to save.
#include "console/console.h"

#include <QDialog>
#include <QString>

class QButtonGroup;
class QLineEdit;
class QListWidget;

namespace brimlow {

class CGroupDlg : public QDialog {
    Q_OBJECT
public:
    CGroupDlg(Console& console, const QString& name, int group, int tab, QWidget* parent = nullptr);

    QString Name() const { return m_name; }
    int Tab() const { return m_tab; }

    // "Add --->" (and a double-click on the left): the selected subscriber becomes a member.
    void AddMember();
    // "<--- Remove" (and a double-click on the right).
    void RemoveMember();

    void accept() override;
    void reject() override;

private:
    void FillLists();
    bool GroupIsEmpty() const;
    GroupRecord& Members() const { return m_directory.groups[m_group]; }

    Console& m_console;
    Directory& m_directory;
    const int m_group;
    int m_tab;
    QString m_name;
    QLineEdit* m_nameEdit = nullptr;
    QListWidget* m_subscribers = nullptr;
    QListWidget* m_members = nullptr;
    QButtonGroup* m_tabs = nullptr;
};

} // namespace brimlow
