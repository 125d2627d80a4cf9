#include "app/ControlScreenshots.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include "gui/control/BlocksWindow.h"
#include "gui/control/ConnectionActions.h"
#include "gui/control/ControlConfirmDlg.h"
#include "gui/grid/ConnectionPane.h"
#include "gui/grid/GridView.h"
#include "gui/session/CVGLDoc.h"

namespace ControlScreenshots {

namespace {

// The main window with the menu drawn where it pops up: a menu is a window
// of its own, and a picture of the main window alone leaves it out.
class MenuPicture : public QLabel {
public:
    MenuPicture(QWidget* mainFrame, QMenu* menu) : m_pFrame(mainFrame), m_pMenu(menu) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_pFrame->grab());
        painter.drawPixmap(m_pFrame->mapFromGlobal(m_pMenu->pos()), m_pMenu->grab());
    }
    QSize sizeHint() const override { return m_pFrame->size(); }

private:
    QWidget* m_pFrame;
    QMenu* m_pMenu;
};

void ChooseFirstRows(GridView& grid, int rows) {
    grid.clearSelection();
    for (int row = 0; row < rows && row < grid.model()->rowCount(); ++row) {
        grid.selectionModel()->select(grid.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

}  // namespace

bool Handles(const QString& which) {
    return which == QLatin1String("connection-menu") || which == QLatin1String("block-confirm") ||
           which == QLatin1String("close-confirm") || which == QLatin1String("blocks");
}

QWidget* Stage(const QString& which, CVGLDoc& document, QWidget* mainFrame) {
    GridView* grid = document.GetGridView();
    if (!grid) return nullptr;
    ChooseFirstRows(*grid, 2);
    const ControlTargets targets = ControlTargets::Of(grid->SelectedEntries());
    if (which == QLatin1String("blocks")) return BlocksWindow::ShowFor(&document, mainFrame);
    if (which.endsWith(QLatin1String("-confirm"))) {
        const MonControlOp op =
            which.startsWith(QLatin1String("close")) ? MonControlOp::Close : MonControlOp::Block;
        auto* dialog = new ControlConfirmDlg(op, MonBlockWhat::User, targets, document.ServerName(),
                                             mainFrame);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        return dialog;
    }
    auto* menu = new QMenu(grid);
    ConnectionActions::AddToMenu(menu, &document, targets, grid);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Bloc&ks..."));
    const QRect row = grid->visualRect(grid->model()->index(1, 2));
    menu->popup(grid->viewport()->mapToGlobal(row.center()));
    auto* picture = new MenuPicture(mainFrame, menu);
    picture->resize(mainFrame->size());
    return picture;
}

}  // namespace ControlScreenshots
