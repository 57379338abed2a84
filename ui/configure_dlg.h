#pragma once
// "Configure": the launcher of every settings dialog. Each button runs its dialog modally and returns here; the
// caller rebuilds its tabs and lists when this closes.
#include "console/console.h"
#include "ui/server_admin.h"

#include <QDialog>

namespace brimlow {

class CConfigureDlg final : public QDialog {
    Q_OBJECT
public:
    CConfigureDlg(Console& console, ServerAdmin admin, QWidget* parent = nullptr);

private:
    template <typename Dialog, typename... Args> void Run(Args&&... args);

    Console& m_console;
    ServerAdmin m_admin;
};

} // namespace brimlow
