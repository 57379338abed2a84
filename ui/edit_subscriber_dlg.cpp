#include "ui/edit_subscriber_dlg.h"

#include "ui/help.h"
#include "ui/text_fields.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>

namespace brimlow {
namespace {
// Characters accepted while typing, and kept at OK.
constexpr int kLongAccepted = 80, kLongStored = 79;
constexpr int kMediumAccepted = 40, kMediumStored = 39;
constexpr int kShortAccepted = 20, kShortStored = 19;
// The Name field is 79 bytes: 78 characters keep it terminated, as every reader of the table expects.
constexpr int kNameStored = sizeof(SubscriberRecord::Name) - 1;
} // namespace

template <size_t N> QLineEdit* CEditSubscriberDlg::AddField(char (&field)[N], int accepted, int stored) {
    auto* edit = new QLineEdit(this);
    LoadLineEdit(edit, field, accepted);
    m_fields.push_back({edit, [&field, stored](const QString& text) { StoreField(field, text, stored); }});
    return edit;
}

CEditSubscriberDlg::CEditSubscriberDlg(Console& console, const SubscriberRecord& record, QWidget* parent)
    : QDialog(parent), m_record(record) {
    setWindowTitle("Edit Subsciber");
    auto* grid = new QGridLayout;
    int row = 0;
    // One labelled field per row, or several side by side; each field is named after its label.
    auto place = [&](std::initializer_list<std::pair<const char*, QWidget*>> fields) {
        int column = 0;
        for (auto [caption, widget] : fields) {
            auto* label = new QLabel(caption, this);
            label->setBuddy(widget);
            widget->setAccessibleName(QString(caption).remove('&').remove(':'));
            grid->addWidget(label, row, column);
            int span = fields.size() == 1 ? 5 : 1;
            grid->addWidget(widget, row, column + 1, 1, span);
            column += 2;
        }
        ++row;
    };
    place({{"&Name:", AddField(m_record.Name, kLongAccepted, kNameStored)}});
    place({{"C&ompany:", AddField(m_record.CompanyName, kLongAccepted, kLongStored)}});
    place({{"A&ddress:", AddField(m_record.Address, kLongAccepted, kLongStored)}});
    place({{"Cit&y:", AddField(m_record.City, kMediumAccepted, kMediumStored)},
           {"S&tate:", AddField(m_record.State, kMediumAccepted, kMediumStored)},
           {"&ZIP:", AddField(m_record.ZIP, kShortAccepted, kShortStored)}});
    place({{"&WK Phone:", AddField(m_record.WorkPhone, kShortAccepted, kShortStored)},
           {"&HM Phone:", AddField(m_record.HomePhone, kShortAccepted, kShortStored)}});
    place({{"&FAX:", AddField(m_record.FAX, kShortAccepted, kShortStored)},
           {"C&ell:", AddField(m_record.Cell, kShortAccepted, kShortStored)}});
    place({{"E&mail:", AddField(m_record.Email, kLongAccepted, kLongStored)}});
    QLineEdit* pin = AddField(m_record.PIN, kShortAccepted, kShortStored);
    pin->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), pin));
    m_company = new QComboBox(this);
    place({{"&PIN:", pin}, {"Pa&ging company:", m_company}});

    const bool network = record.Tab == kNetworkTab;
    {
        std::lock_guard lock(console.databaseLock);
        for (const CompanyRecord& company : console.DirectoryForTab(record.Tab).companies) {
            if (IsEmptyText(company.Name))
                break;
            m_company->addItem(FieldText(company.Name));
        }
    }
    m_company->setCurrentIndex(record.Company >= 0 && record.Company < m_company->count() ? record.Company : -1);

    auto* tabBox = new QGroupBox("Ta&b", this);
    auto* tabRow = new QHBoxLayout(tabBox);
    m_tabs = new QButtonGroup(this);
    Settings settings = console.settings.Get();
    for (int tab = 0; tab < 3; ++tab) {
        auto* button = new QRadioButton(FromLatin1(settings.TabName(tab)), tabBox);
        button->setChecked(tab == record.Tab);
        button->setEnabled(!network);
        m_tabs->addButton(button, tab);
        tabRow->addWidget(button);
    }
    grid->addWidget(tabBox, row++, 0, 1, 6);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CEditSubscriberDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CEditSubscriberDlg::reject);
    auto* root = new QVBoxLayout(this);
    root->addLayout(grid);
    root->addWidget(buttons);
    AddHelpKey(this, console);
}

void CEditSubscriberDlg::accept() {
    for (const TextField& f : m_fields)
        f.store(f.edit->text());
    if (m_tabs->checkedId() >= 0)
        m_record.Tab = static_cast<int8_t>(m_tabs->checkedId());
    m_record.Company = std::max(0, m_company->currentIndex());
    QDialog::accept();
}

void CEditSubscriberDlg::reject() {
    SetText(m_record.Name, "");
    QDialog::reject();
}

} // namespace brimlow
