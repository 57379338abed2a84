#pragma once
// "Clients": the server's operator accounts, sorted by name. Edits change the live table at once; OK also writes
// Operators.dat, closing any other way leaves the file as it was.
#include "console/console.h"
#include "network/operators.h"

#include <QDialog>
#include <QListWidget>

namespace brimlow {

class CClientsDlg final : public QDialog {
    Q_OBJECT
public:
    CClientsDlg(Console& console, OperatorTable& operators, QWidget* parent = nullptr);
    void accept() override;

private:
    void RefreshList();
    void Edit(int record);
    // The record behind the first selected row; -1 when none is selected.
    int SelectedRecord() const;

    Console& m_console;
    OperatorTable& m_operators;
    QListWidget* m_list;
};

} // namespace brimlow
