#include "ui/tabs_dlg.h"

#include "ui/dialog_controls.h"
#include "ui/help.h"
#include "ui/text_fields.h"

#include <QVBoxLayout>

namespace brimlow {

CTabsDlg::CTabsDlg(Console& console, QWidget* parent) : QDialog(parent), m_console(console) {
    setWindowTitle("Tabs");
    const Settings settings = console.settings.Get();
    auto* form = new QFormLayout;
    for (int tab = 0; tab < 3; ++tab) {
        m_names[tab] = new QLineEdit(FromLatin1(settings.TabName(tab)));
        AddField(form, QString("Tab &%1").arg(tab + 1), m_names[tab]);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MakeOkCancel(this, "OK", {}));
    AddHelpKey(this, console);
}

void CTabsDlg::accept() {
    m_console.settings.Update([this](Settings& s) {
        s.Tab1 = ToLatin1(m_names[0]->text());
        s.Tab2 = ToLatin1(m_names[1]->text());
        s.Tab3 = ToLatin1(m_names[2]->text());
    });
    QDialog::accept();
}

} // namespace brimlow
