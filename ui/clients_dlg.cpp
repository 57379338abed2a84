#include "ui/clients_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/edit_client_dlg.h"
#include "ui/help.h"
#include "ui/icons.h"
#include "ui/text_fields.h"

#include <QGridLayout>

namespace brimlow {

CClientsDlg::CClientsDlg(Console& console, OperatorTable& operators, QWidget* parent)
    : QDialog(parent), m_console(console), m_operators(operators), m_list(new QListWidget) {
    setWindowTitle("Clients");
    m_list->setAccessibleName("Clients");
    // Enter on a row edits it as a double-click does; no button of this dialog is the default.
    connect(m_list, &QListWidget::itemActivated, this, [this] { Edit(SelectedRecord()); });

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_list, 0, 0, 4, 1);
    int row = 0;
    auto add = [&](const QString& caption, auto handler) {
        QPushButton* button = MakeButton(caption, this);
        connect(button, &QPushButton::clicked, this, handler);
        layout->addWidget(button, row++, 1);
    };
    add("OK", &CClientsDlg::accept);
    add("&Add", [this] {
        // All 100 records in use: nothing to add.
        if (int free = m_operators.FirstFreeOperator(); free >= 0)
            Edit(free);
    });
    add("&Delete", [this] {
        if (int record = SelectedRecord(); record >= 0) {
            m_operators.DeleteOperator(record);
            RefreshList();
        }
    });
    layout->setRowStretch(row, 1);
    layout->setColumnStretch(0, 1);
    AddHelpKey(this, console);
    RefreshList();
    m_list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void CClientsDlg::accept() {
    if (!m_operators.SaveOperators(m_console.dataDir))
        m_console.op->ShowError("The accounts could not be written to Operators.dat!");
    QDialog::accept();
}

void CClientsDlg::RefreshList() {
    int remembered = m_list->currentRow();
    m_operators.SortOperators();
    m_list->clear();
    // Each row keeps its record's number: an emptied name leaves a gap in the table, not in the list.
    const OperatorTable::Records records = m_operators.Snapshot();
    for (int k = 0; k < kOperatorSlots; ++k) {
        if (records[k].Name[0] == '\0')
            continue;
        auto* item = new QListWidgetItem(Icon(AppIcon::Subscriber), FieldText(records[k].Name));
        item->setData(Qt::UserRole, k);
        m_list->addItem(item);
    }
    if (remembered >= 0 && remembered < m_list->count())
        m_list->setCurrentRow(remembered);
}

int CClientsDlg::SelectedRecord() const {
    QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->data(Qt::UserRole).toInt();
}

void CClientsDlg::Edit(int record) {
    if (record < 0)
        return;
    CEditClientDlg editor(m_console, m_operators, record, this);
    editor.exec();
    RefreshList();
}

} // namespace brimlow
