#pragma once
// A static text that is a link: it draws its text in its own colour and opens its target (a web page, or a new
// mail with "mailto:") with the desktop's default handler when clicked or activated with Enter or Space.
#include <QLabel>
#include <QUrl>

namespace brimlow {

// A 24-bit RGB colour 0xRRGGBB; all ones means the palette's button-text colour.
constexpr int kButtonTextColor = -1;
constexpr int kLinkBlue = 0x0000FF;

class CLinkStatic : public QLabel {
    Q_OBJECT
public:
    CLinkStatic(const QString& text, const QUrl& target, QWidget* parent = nullptr);

    void SetTextColor(int rgb);
    QColor TextColor() const;
    const QUrl& Target() const { return m_target; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Open();

    QUrl m_target;
    int m_rgb = kButtonTextColor;
};

} // namespace brimlow
