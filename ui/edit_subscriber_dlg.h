#pragma once
// "Edit Subsciber": one subscriber record, on a copy. Cancel, or OK with the Name emptied, hands back an empty
// Name: nothing to save.
#include "console/console.h"

#include <QDialog>
#include <functional>
#include <vector>

class QButtonGroup;
class QComboBox;
class QLineEdit;

namespace brimlow {

class CEditSubscriberDlg : public QDialog {
    Q_OBJECT
public:
    // A record whose Tab is 3 belongs to the network directory: its providers come from there and the tab
    // buttons are disabled.
    CEditSubscriberDlg(Console& console, const SubscriberRecord& record, QWidget* parent = nullptr);

    SubscriberRecord Record() const { return m_record; }

    void accept() override;
    void reject() override;

private:
    struct TextField {
        QLineEdit* edit;
        std::function<void(const QString&)> store; // into m_record, cut to the field's stored length
    };
    // accepted characters while typing; stored of them are kept at OK.
    template <size_t N> QLineEdit* AddField(char (&field)[N], int accepted, int stored);

    SubscriberRecord m_record;
    std::vector<TextField> m_fields;
    QComboBox* m_company = nullptr;
    QButtonGroup* m_tabs = nullptr;
};

} // namespace brimlow
