#pragma once
// "Edit Company": one provider's SNPP and TAP settings, edited on a copy. Result() hands the copy back; an empty
// Name (Cancel, or a cleared field) means nothing is to be stored. Max Chars and the queue folder flag are not
// shown and come back as they were given.
#include "console/console.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

namespace brimlow {

class CEditCompanyDlg final : public QDialog {
    Q_OBJECT
public:
    // number is the provider's slot, whose queue Purge Queue empties.
    CEditCompanyDlg(Console& console, const CompanyRecord& company, int number, QWidget* parent = nullptr);
    void accept() override;
    void reject() override;
    const CompanyRecord& Result() const { return m_company; }

private:
    Console& m_console;
    CompanyRecord m_company;
    QLineEdit* m_name;
    QLineEdit* m_address;
    QLineEdit* m_socket;
    QCheckBox* m_twoWay;
    QLineEdit* m_phone;
    QComboBox* m_port;
    QComboBox* m_baud;
};

} // namespace brimlow
