#pragma once
// "Providers": the companies of the local directory, edited in place. New and a double-click open Edit Company;
// Delete renumbers every subscriber's provider; Purge Queues empties the whole disk queue.
#include "console/console.h"

#include <QDialog>
#include <QListWidget>

namespace brimlow {

class CProvidersDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CProvidersDlg(Console& console, QWidget* parent = nullptr);

private:
    void RefreshList();
    void NewProvider();
    void EditProvider();
    void DeleteProvider();
    // Runs Edit Company on slot's record as given; a returned name stores the record back into slot.
    void EditSlot(int slot, const CompanyRecord& given);

    Console& m_console;
    QListWidget* m_list;
};

} // namespace brimlow
