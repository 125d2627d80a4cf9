#pragma once
// A colour well: a small grid of colour cells to pick a colour from, with no
// button for further colours. The cell of the current colour is framed. The
// mouse or the keyboard picks a cell (arrow keys move the focus cell, Space
// or Enter picks it); a pick is announced with the well's control id.
// Colours are 32-bit RGB values with red in the low byte.

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <vector>

class ColorWell : public QWidget {
    Q_OBJECT
public:
    explicit ColorWell(int id, QWidget* parent = nullptr);

    int GetId() const { return m_Id; }
    void SetColor(uint32_t color);  // no signal
    uint32_t GetColor() const { return m_Color; }

    // The well's colours, row by row.
    static const std::vector<uint32_t>& Palette();
    static constexpr int Columns = 5;

    int CellCount() const { return static_cast<int>(Palette().size()); }
    QRect CellRect(int cell) const;
    int CellAt(const QPoint& point) const;  // -1 outside every cell
    int FocusCell() const { return m_FocusCell; }

    static QColor ToQColor(uint32_t color);
    static uint32_t ToRgbValue(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // The user picked a cell: the well's id and the colour picked.
    void colorPicked(int id, uint32_t color);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Pick(int cell);
    int Rows() const;

    int m_Id;
    uint32_t m_Color = 0;
    int m_FocusCell = 0;
    int m_PressedCell = -1;
};
