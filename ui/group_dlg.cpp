#include "ui/group_dlg.h"

#include "ui/help.h"
#include "ui/icons.h"
#include "ui/text_fields.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <vector>

namespace brimlow {
namespace {

constexpr const char* kProviderCaption = "Morrow SNPP";
constexpr const char* kErrorCaption = "Error";
constexpr const char* kOneAtATimeText = "Only one subscriber can be deleted at a time!";
constexpr const char* kNothingSelectedText = "You must select a subscriber to add!";
constexpr const char* kGroupInGroupText = "A group cannot be a member of a group!";
constexpr const char* kGroupFullText = "Group is full!";
constexpr const char* kEmptyGroupText = "This group is empty and will be deleted!";
constexpr int kNameAccepted = 80;
constexpr int kNameStored = 79;
constexpr int kIsGroupRole = Qt::UserRole;

std::vector<int> SelectedRows(const QListWidget* list) {
    std::vector<int> rows;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->isSelected())
            rows.push_back(row);
    return rows;
}

QListWidget* MakeList(const QString& name, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setAccessibleName(name);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setIconSize(QSize(16, 16));
    return list;
}

} // namespace

CGroupDlg::CGroupDlg(Console& console, const QString& name, int group, int tab, QWidget* parent)
    : QDialog(parent), m_console(console), m_directory(console.DirectoryForTab(tab)),
      m_group(group >= 0 && group < kGroupSlots ? group : 0), m_tab(tab) {
    setWindowTitle("Group");
    m_nameEdit = new QLineEdit(name, this);
    m_nameEdit->setMaxLength(kNameAccepted);
    m_nameEdit->setAccessibleName("Group Name");
    m_subscribers = MakeList("Subscribers", this);
    m_members = MakeList("Group Members", this);
    auto* add = new QPushButton("&Add --->", this);
    auto* remove = new QPushButton("<--- &Remove", this);
    add->setAccessibleName("Add");
    remove->setAccessibleName("Remove");
    for (QPushButton* button : {add, remove})
        button->setAutoDefault(false);

    auto* grid = new QGridLayout;
    auto* nameLabel = new QLabel("Group &Name:", this);
    nameLabel->setBuddy(m_nameEdit);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(m_nameEdit, 0, 1, 1, 3);
    auto* leftLabel = new QLabel("&Subscribers", this);
    leftLabel->setBuddy(m_subscribers);
    auto* rightLabel = new QLabel("Group &Members", this);
    rightLabel->setBuddy(m_members);
    grid->addWidget(leftLabel, 1, 0, 1, 2);
    grid->addWidget(rightLabel, 1, 3);
    grid->addWidget(m_subscribers, 2, 0, 2, 2);
    grid->addWidget(add, 2, 2, Qt::AlignBottom);
    grid->addWidget(remove, 3, 2, Qt::AlignTop);
    grid->addWidget(m_members, 2, 3, 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto* tabBox = new QGroupBox("Ta&b", this);
    auto* tabRow = new QHBoxLayout(tabBox);
    m_tabs = new QButtonGroup(this);
    Settings settings = console.settings.Get();
    for (int t = 0; t < 3; ++t) {
        auto* button = new QRadioButton(FromLatin1(settings.TabName(t)), tabBox);
        button->setChecked(t == tab);
        button->setEnabled(tab != kNetworkTab);
        m_tabs->addButton(button, t);
        tabRow->addWidget(button);
    }
    grid->addWidget(tabBox, 4, 0, 1, 4);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* root = new QVBoxLayout(this);
    root->addLayout(grid);
    root->addWidget(buttons);

    connect(add, &QPushButton::clicked, this, &CGroupDlg::AddMember);
    connect(remove, &QPushButton::clicked, this, &CGroupDlg::RemoveMember);
    connect(m_subscribers, &QListWidget::itemDoubleClicked, this, &CGroupDlg::AddMember);
    connect(m_members, &QListWidget::itemDoubleClicked, this, &CGroupDlg::RemoveMember);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGroupDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGroupDlg::reject);
    AddHelpKey(this, console);
    FillLists();
    resize(560, 420);
}

void CGroupDlg::FillLists() {
    struct Entry {
        QString name;
        bool group;
    };
    std::vector<Entry> entries;
    std::vector<QString> members;
    {
        std::lock_guard lock(m_console.databaseLock);
        for (const SubscriberRecord& record : m_directory.subscribers) {
            if (IsEmptyText(record.Name))
                break;
            entries.push_back({FieldText(record.Name), record.IsGroup()});
        }
        GroupRecord& group = Members();
        SortGroupMembers(group);
        for (const auto& member : group.Members) {
            if (IsEmptyText(member))
                break;
            members.push_back(FieldText(member));
        }
    }
    std::vector<int> selected = SelectedRows(m_subscribers);
    m_subscribers->clear();
    for (const Entry& entry : entries) {
        auto* item =
            new QListWidgetItem(Icon(entry.group ? AppIcon::Group : AppIcon::Subscriber), entry.name, m_subscribers);
        item->setData(kIsGroupRole, entry.group);
    }
    if (!selected.empty() && selected.front() < m_subscribers->count())
        m_subscribers->setCurrentRow(selected.front(), QItemSelectionModel::ClearAndSelect);
    m_members->clear();
    for (const QString& member : members)
        new QListWidgetItem(Icon(AppIcon::Subscriber), member, m_members);
}

void CGroupDlg::AddMember() {
    std::vector<int> rows = SelectedRows(m_subscribers);
    if (rows.size() > 1) {
        m_console.op->ShowMessage(MessageIcon::Error, kProviderCaption, kOneAtATimeText);
        return;
    }
    if (rows.empty()) {
        m_console.op->ShowMessage(MessageIcon::Error, kProviderCaption, kNothingSelectedText);
        return;
    }
    const QListWidgetItem* item = m_subscribers->item(rows.front());
    if (item->data(kIsGroupRole).toBool()) {
        m_console.op->ShowMessage(MessageIcon::Error, kErrorCaption, kGroupInGroupText);
        return;
    }
    bool added;
    {
        std::lock_guard lock(m_console.databaseLock);
        added = AddGroupMember(Members(), ToLatin1(item->text()));
    }
    if (!added)
        m_console.op->ShowMessage(MessageIcon::Error, kErrorCaption, kGroupFullText);
    FillLists();
}

void CGroupDlg::RemoveMember() {
    std::vector<int> rows = SelectedRows(m_members);
    if (rows.size() > 1) {
        m_console.op->ShowMessage(MessageIcon::Error, kProviderCaption, kOneAtATimeText);
        return;
    }
    if (rows.empty())
        return;
    {
        std::lock_guard lock(m_console.databaseLock);
        RemoveGroupMember(Members(), rows.front());
    }
    FillLists();
}

bool CGroupDlg::GroupIsEmpty() const {
    std::lock_guard lock(m_console.databaseLock);
    return IsEmptyText(Members().Members[0]);
}

void CGroupDlg::accept() {
    m_name = m_nameEdit->text().left(kNameStored);
    if (m_tab != kNetworkTab && m_tabs->checkedId() >= 0)
        m_tab = m_tabs->checkedId();
    if (GroupIsEmpty()) {
        m_console.op->ShowMessage(MessageIcon::Error, kErrorCaption, kEmptyGroupText);
        m_name.clear();
    }
    QDialog::accept();
}

void CGroupDlg::reject() {
    m_name.clear();
    if (GroupIsEmpty())
        m_console.op->ShowMessage(MessageIcon::Error, kErrorCaption, kEmptyGroupText);
    QDialog::reject();
}

} // namespace brimlow
