#pragma once
// "Edit Client": one operator account of the server. Save stores it into the live table, so the next login uses
// it at once; sessions already logged in keep the level they logged in with.
#include "console/console.h"
#include "network/operators.h"

#include <QButtonGroup>
#include <QDialog>
#include <QLineEdit>

namespace brimlow {

class CEditClientDlg final : public QDialog {
    Q_OBJECT
public:
    CEditClientDlg(const Console& console, OperatorTable& operators, int record, QWidget* parent = nullptr);
    void accept() override;

private:
    OperatorTable& m_operators;
    int m_record;
    QLineEdit* m_name;
    QLineEdit* m_password;
    QButtonGroup* m_level;
};

} // namespace brimlow
