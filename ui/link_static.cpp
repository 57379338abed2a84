#include "ui/link_static.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace brimlow {

CLinkStatic::CLinkStatic(const QString& text, const QUrl& target, QWidget* parent)
    : QLabel(text, parent), m_target(target) {
    setAccessibleName(text);
    setAccessibleDescription("Link");
    setToolTip(target.toString());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    QFont linkFont = font();
    linkFont.setUnderline(true); // not by colour alone
    setFont(linkFont);
}

void CLinkStatic::SetTextColor(int rgb) {
    m_rgb = rgb;
    update();
}

QColor CLinkStatic::TextColor() const {
    return m_rgb == kButtonTextColor ? palette().color(QPalette::ButtonText) : QColor::fromRgb(QRgb(m_rgb));
}

void CLinkStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(TextColor());
    QRect text = contentsRect();
    painter.drawText(text, static_cast<int>(alignment()), this->text());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = painter.boundingRect(text, static_cast<int>(alignment()), this->text()).adjusted(-2, 0, 2, 0);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CLinkStatic::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Open();
    QLabel::mouseReleaseEvent(event);
}

void CLinkStatic::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        Open();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void CLinkStatic::Open() { QDesktopServices::openUrl(m_target); }

} // namespace brimlow
