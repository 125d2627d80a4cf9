#include "gui/toolkit/ColorWell.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {

constexpr int CellSize = 16;
constexpr int CellGap = 3;
constexpr int Margin = 3;

}  // namespace

ColorWell::ColorWell(int id, QWidget* parent) : QWidget(parent), m_Id(id) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Colour well"));
}

const std::vector<uint32_t>& ColorWell::Palette() {
    // Values are 0xBBGGRR. The first rows hold the colours of the predefined
    // services, so their lines can be given back the colour they started with.
    static const std::vector<uint32_t> palette = {
        0x000000, 0x505050, 0x808080,
        0xC0C0C0, 0xFFFFFF,  // black, greys, white
        0x0000FF, 0x00FF00, 0xFF0000,
        0x00FFFF, 0xFFFF00,  // red, green, blue, yellow, cyan
        0xFF00FF, 0x000080, 0x008000,
        0x800000, 0x008080,  // magenta, maroon, dark green, navy, olive
        0x808000, 0x800080, 0x0080FF,
        0x004080, 0xC080FF,  // teal, purple, orange, brown, pink
    };
    return palette;
}

int ColorWell::Rows() const {
    return (CellCount() + Columns - 1) / Columns;
}

QColor ColorWell::ToQColor(uint32_t color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

uint32_t ColorWell::ToRgbValue(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
           static_cast<uint32_t>(color.blue()) << 16;
}

void ColorWell::SetColor(uint32_t color) {
    m_Color = color & 0xFFFFFF;
    const auto& palette = Palette();
    for (int cell = 0; cell < CellCount(); ++cell) {
        if (palette[static_cast<size_t>(cell)] == m_Color) m_FocusCell = cell;
    }
    update();
}

QRect ColorWell::CellRect(int cell) const {
    const int row = cell / Columns;
    const int column = cell % Columns;
    return QRect(Margin + column * (CellSize + CellGap), Margin + row * (CellSize + CellGap),
                 CellSize, CellSize);
}

int ColorWell::CellAt(const QPoint& point) const {
    for (int cell = 0; cell < CellCount(); ++cell) {
        if (CellRect(cell).contains(point)) return cell;
    }
    return -1;
}

QSize ColorWell::sizeHint() const {
    return QSize(2 * Margin + Columns * CellSize + (Columns - 1) * CellGap,
                 2 * Margin + Rows() * CellSize + (Rows() - 1) * CellGap);
}

void ColorWell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const auto& palette = Palette();
    for (int cell = 0; cell < CellCount(); ++cell) {
        const QRect rect = CellRect(cell);
        const uint32_t color = palette[static_cast<size_t>(cell)];
        painter.fillRect(rect, ToQColor(color));
        painter.setPen(QColor(Qt::gray));
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        if (color == m_Color) {
            // The current colour: a black frame with a white one inside, visible on any cell.
            painter.setPen(QPen(Qt::black, 1));
            painter.drawRect(rect.adjusted(-2, -2, 1, 1));
            painter.setPen(QPen(Qt::white, 1));
            painter.drawRect(rect.adjusted(-1, -1, 0, 0));
        }
    }
    if (hasFocus() && m_FocusCell >= 0 && m_FocusCell < CellCount()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = CellRect(m_FocusCell).adjusted(-3, -3, 3, 3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void ColorWell::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_PressedCell = CellAt(event->position().toPoint());
    if (m_PressedCell >= 0) {
        m_FocusCell = m_PressedCell;
        update();
    }
}

void ColorWell::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int cell = CellAt(event->position().toPoint());
    if (cell >= 0 && cell == m_PressedCell) Pick(cell);
    m_PressedCell = -1;
}

void ColorWell::keyPressEvent(QKeyEvent* event) {
    int cell = m_FocusCell;
    switch (event->key()) {
        case Qt::Key_Left:
            cell -= 1;
            break;
        case Qt::Key_Right:
            cell += 1;
            break;
        case Qt::Key_Up:
            cell -= Columns;
            break;
        case Qt::Key_Down:
            cell += Columns;
            break;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Pick(m_FocusCell);
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    if (cell >= 0 && cell < CellCount()) {
        m_FocusCell = cell;
        update();
    }
}

void ColorWell::Pick(int cell) {
    if (cell < 0 || cell >= CellCount()) return;
    m_FocusCell = cell;
    m_Color = Palette()[static_cast<size_t>(cell)];
    update();
    emit colorPicked(m_Id, m_Color);
}
