#include "ui/providers_dlg.h"

#include "directory/data_files.h"
#include "queue/purge.h"
#include "ui/dialog_controls.h"
#include "ui/edit_company_dlg.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/text_fields.h"

#include <QGridLayout>

namespace brimlow {
namespace {

constexpr const char* kCaption = "Morrow SNPP";
constexpr uint16_t kNewBaud = 9600;

} // namespace

CProvidersDlg::CProvidersDlg(Console& console, QWidget* parent)
    : QDialog(parent), m_console(console), m_list(new QListWidget) {
    setWindowTitle("Providers");
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAccessibleName("Providers");
    // Enter on a row edits it as a double-click does; no button of this dialog is the default.
    connect(m_list, &QListWidget::itemActivated, this, &CProvidersDlg::EditProvider);

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_list, 0, 0, 6, 1);
    int row = 0;
    auto add = [&](const QString& caption, auto handler) {
        QPushButton* button = MakeButton(caption, this);
        connect(button, &QPushButton::clicked, this, handler);
        layout->addWidget(button, row++, 1);
    };
    add("OK", &QDialog::accept);
    add("Cancel", &QDialog::reject);
    add("&New", &CProvidersDlg::NewProvider);
    add("&Delete", &CProvidersDlg::DeleteProvider);
    add("&Purge Queues", [this] { PurgeAll(m_console); });
    layout->setRowStretch(row, 1);
    layout->setColumnStretch(0, 1);
    AddHelpKey(this, console);
    RefreshList();
    m_list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void CProvidersDlg::RefreshList() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    int remembered = selected.isEmpty() ? -1 : selected.first().row();
    m_list->clear();
    {
        std::lock_guard lock(m_console.databaseLock);
        for (const CompanyRecord& company : m_console.local->companies) {
            if (IsEmptyText(company.Name))
                break;
            m_list->addItem(new QListWidgetItem(Icon(AppIcon::Provider), FieldText(company.Name)));
        }
    }
    if (remembered >= 0 && remembered < m_list->count())
        m_list->setCurrentRow(remembered);
}

void CProvidersDlg::EditSlot(int slot, const CompanyRecord& given) {
    CEditCompanyDlg editor(m_console, given, slot, this);
    editor.exec();
    if (!IsEmptyText(editor.Result().Name)) {
        std::lock_guard lock(m_console.databaseLock);
        m_console.local->companies[slot] = editor.Result();
    }
    RefreshList();
}

void CProvidersDlg::NewProvider() {
    int slot = -1;
    CompanyRecord given{};
    {
        std::lock_guard lock(m_console.databaseLock);
        for (int k = 0; k < kCompanySlots && slot < 0; ++k)
            if (IsEmptyText(m_console.local->companies[k].Name))
                slot = k;
        if (slot >= 0)
            given = m_console.local->companies[slot];
    }
    if (slot < 0) {
        m_console.op->ShowMessage(MessageIcon::Error, kCaption, "Every provider slot is in use!");
        return;
    }
    SetText(given.Name, "");
    SetText(given.Address, "");
    SetText(given.Phone, "");
    given.Port = 0;
    given.Socket = kDefaultSocket;
    given.Baud = kNewBaud;
    given.QueueFolderFlag = 0;
    given.TwoWay = 0;
    EditSlot(slot, given);
}

void CProvidersDlg::EditProvider() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end());
    int slot = selected.first().row();
    CompanyRecord given;
    {
        std::lock_guard lock(m_console.databaseLock);
        given = m_console.local->companies[slot];
    }
    EditSlot(slot, given);
}

void CProvidersDlg::DeleteProvider() {
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.size() > 1) {
        m_console.op->ShowMessage(MessageIcon::Error, kCaption, "Only one provider can be deleted at a time!");
        return;
    }
    if (selected.isEmpty())
        return;
    int slot = selected.first().row();
    std::string name = ToLatin1(m_list->item(slot)->text());
    if (m_console.op->AskYesNo(MessageIcon::Question, kCaption, "Delete this provider?\n" + name)) {
        std::lock_guard lock(m_console.databaseLock);
        DeleteCompany(*m_console.local, slot);
    }
    RefreshList();
}

} // namespace brimlow
