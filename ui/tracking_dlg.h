#pragma once
// The "Tracking" dialog: one ticket's name, PIN, date, message and status replies, read-only.
#include "console/console.h"
#include "tracking/ticket_view.h"

#include <QDialog>

namespace brimlow {

class CTrackingDlg : public QDialog {
    Q_OBJECT
public:
    CTrackingDlg(const TicketView& ticket, Console& console, QWidget* parent = nullptr);
};

} // namespace brimlow
