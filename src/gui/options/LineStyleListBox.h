#pragma once
// The line style list of the graph options page: seven owner-drawn items,
// item i a sample of line style i (LineStyle) drawn across the item in the
// sample colour. Every item is 20 pixels high; the selected item is framed in
// the sample colour.

#include <QListWidget>
#include <QPen>
#include <cstdint>

class LineStyleListBox : public QListWidget {
    Q_OBJECT
public:
    static constexpr int ItemHeight = 20;
    static constexpr int StyleCount = 7;

    explicit LineStyleListBox(QWidget* parent = nullptr);

    void AddStyleItems();                 // the seven samples, item i standing for style i
    void SetSampleColor(uint32_t color);  // and repaint the samples
    uint32_t SampleColor() const { return m_SampleColor; }

    // The pen of a line style: 0 solid, 1 dashed, 2 dotted, 3 dash-dot,
    // 4 dash-dot-dot (all width 1), 5 solid width 4, 6 solid width 8; any
    // other code solid width 1.
    static QPen PenForStyle(int style, const QColor& color);

    QSize sizeHint() const override;

private:
    uint32_t m_SampleColor = 0;  // 32-bit RGB, red in the low byte
};
