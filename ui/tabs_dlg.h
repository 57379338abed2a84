#pragma once
// "Tabs": the names of the three directory tabs. OK stores them; Escape closes without storing.
#include "console/console.h"

#include <QDialog>
#include <QLineEdit>
#include <array>

namespace brimlow {

class CTabsDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CTabsDlg(Console& console, QWidget* parent = nullptr);
    void accept() override;

private:
    Console& m_console;
    std::array<QLineEdit*, 3> m_names;
};

} // namespace brimlow
