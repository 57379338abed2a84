#pragma once
// The About box: the product, its version, its maker, and links to the product page and to sales and support.
#include "console/console.h"

#include <QDialog>

namespace brimlow {

// The product web page (the main window's logo opens it too) and the two mail addresses.
constexpr const char* kProductWebPage = "https://www.quillfen-labs.example/";
constexpr const char* kSalesAddress = "sales@quillfen-labs.example";
constexpr const char* kSupportAddress = "support@quillfen-labs.example";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(Console& console, QWidget* parent = nullptr);
};

} // namespace brimlow
