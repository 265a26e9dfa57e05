#pragma once
// A one-line label for the status bar that never clips: a text wider than the label ends in
// "…", and the whole text is its tooltip.

#include <QFrame>
#include <QString>

class ElidingLabel : public QFrame {
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // Whether the text is shown shortened now.
    bool isElided() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
    // The text as painted: whole, or shortened to the label's width.
    QString shownText() const;

    QString m_text;
};
