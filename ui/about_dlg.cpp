#include "ui/about_dlg.h"

#include "ui/help.h"
#include "ui/icons.h"
#include "ui/link_static.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brimlow {
namespace {

constexpr int kProductIconSize = 64;

CLinkStatic* Link(const QString& text, const QUrl& target) {
    auto* link = new CLinkStatic(text, target);
    link->setObjectName(target.scheme() == "mailto" ? text.section('@', 0, 0) + "Link" : "webLink");
    link->SetTextColor(kLinkBlue);
    return link;
}

} // namespace

CAboutDlg::CAboutDlg(Console& console, QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Brimlow");
    auto* icon = new QLabel;
    icon->setPixmap(Icon(AppIcon::Product).pixmap(kProductIconSize, kProductIconSize));
    icon->setAccessibleName("Brimlow");

    auto* text = new QVBoxLayout;
    auto* product = new QLabel("Brimlow - Version 4.0");
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);
    text->addWidget(product);
    text->addWidget(new QLabel("Quillfen Labs"));
    text->addSpacing(8);
    text->addWidget(Link(QUrl(kProductWebPage).host(), QUrl(kProductWebPage)));
    for (const char* address : {kSalesAddress, kSupportAddress})
        text->addWidget(Link(address, QUrl(QString("mailto:") + address)));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setAccessibleName("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, Qt::AlignTop);
    grid->addLayout(text, 0, 1);
    grid->addWidget(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    ok->setFocus(); // Enter closes the box; the links come next in the tab order
    AddHelpKey(this, console);
}

} // namespace brimlow
