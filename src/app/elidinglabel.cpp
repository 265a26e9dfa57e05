#include "app/elidinglabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

ElidingLabel::ElidingLabel(QWidget* parent)
    : QFrame(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidingLabel::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    updateToolTip();
    update();
}

bool ElidingLabel::isElided() const {
    return fontMetrics().horizontalAdvance(m_text) > contentsRect().width() - 4;
}

QSize ElidingLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_text) + 4 + m.left() + m.right(),
            fontMetrics().height() + 2 + m.top() + m.bottom()};
}

QSize ElidingLabel::minimumSizeHint() const {
    // A short line is shown whole; a long one keeps a good part of the bar and ends in "…".
    const int shortest = fontMetrics().horizontalAdvance(QStringLiteral("M…"));
    const int longest = fontMetrics().averageCharWidth() * 48;
    return {std::clamp(sizeHint().width(), shortest, longest), sizeHint().height()};
}

void ElidingLabel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(2, 0, -2, 0);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(m_text, Qt::ElideRight, area.width()));
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateToolTip();
}

void ElidingLabel::updateToolTip() {
    setToolTip(isElided() ? m_text : QString());
}
