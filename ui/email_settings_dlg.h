#pragma once
// "Email Settings": the outbound mail server and the sender of e-mail pages.
#include "console/console.h"

#include <QDialog>
#include <QLineEdit>

namespace brimlow {

class CEmailSettingsDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CEmailSettingsDlg(Console& console, QWidget* parent = nullptr);
    void accept() override;

private:
    Console& m_console;
    QLineEdit* m_mailServer;
    QLineEdit* m_yourName;
    QLineEdit* m_returnAddress;
};

} // namespace brimlow
