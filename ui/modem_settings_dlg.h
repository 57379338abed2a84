#pragma once
// "Modem Settings": the console's own modem port and the modem strings of MODEM.DAT.
#include "console/console.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

namespace brimlow {

class CModemSettingsDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CModemSettingsDlg(Console& console, QWidget* parent = nullptr);
    void accept() override;

private:
    Console& m_console;
    QComboBox* m_port;
    QLineEdit* m_initString;
    QLineEdit* m_dialString;
};

} // namespace brimlow
