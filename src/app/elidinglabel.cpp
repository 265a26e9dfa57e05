#include "app/elidinglabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QtMath>
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
    return shownText() != m_text;
}

QString ElidingLabel::shownText() const {
    return fontMetrics().elidedText(m_text, Qt::ElideRight, contentsRect().width() - 4);
}

QSize ElidingLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    // Rounded up: the painted text is as wide as its glyphs' fractions add up to.
    const int text = qCeil(QFontMetricsF(font()).horizontalAdvance(m_text));
    return {text + 4 + m.left() + m.right(), fontMetrics().height() + 2 + m.top() + m.bottom()};
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
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateToolTip();
}

void ElidingLabel::updateToolTip() {
    setToolTip(isElided() ? m_text : QString());
}
