#include "gui/grid/ExportSnapshot.h"

#include <QTimer>
#include <ctime>

#include "gui/grid/GridModel.h"
#include "gui/session/CVGLDoc.h"

namespace {

// Rows taken in one turn: a few milliseconds' work.
constexpr size_t RowsPerSlice = 4000;

}  // namespace

ExportSnapshot::ExportSnapshot(CVGLDoc* document, GridModel* model, std::vector<int> columns,
                               Taken taken, QObject* parent)
    : QObject(parent),
      m_pDocument(document),
      m_pModel(model),
      m_Columns(std::move(columns)),
      m_Taken(std::move(taken)) {
    QTimer::singleShot(0, this, [this] { TakeSlice(); });
}

// A sort still on its way is waited for: the export has the order the user
// asked for.
void ExportSnapshot::Begin() {
    m_Entries = m_pModel->ShownEntries();
    m_Changes = m_pModel->Changes();
    m_Now = static_cast<int64_t>(std::time(nullptr));
    m_Sheet = ExportSheet::FromConnections(
        {}, m_Columns, m_pDocument ? m_pDocument->GetTable().HostForm() : 1, m_Now);
    m_nNext = 0;
    m_bBegun = true;
}

void ExportSnapshot::TakeSlice() {
    if (!m_pDocument) {  // the session is gone, and its rows with it
        deleteLater();
        return;
    }
    m_Hold.Hold(m_pDocument);
    if (m_pModel->IsReordering()) {
        m_bBegun = false;
    } else if (!m_bBegun || m_pModel->Changes() != m_Changes) {
        Begin();
    }
    if (m_bBegun) {
        const size_t end = std::min(m_Entries.size(), m_nNext + RowsPerSlice);
        const std::vector<const EntryObj*> slice(
            m_Entries.begin() + static_cast<ptrdiff_t>(m_nNext),
            m_Entries.begin() + static_cast<ptrdiff_t>(end));
        m_Sheet.AddConnections(slice, m_Columns, m_pDocument->GetTable().HostForm(), m_Now);
        m_nNext = end;
        if (m_nNext == m_Entries.size()) {
            m_Hold.Release();
            m_Taken(std::move(m_Sheet));
            return;
        }
    }
    QTimer::singleShot(0, this, [this] { TakeSlice(); });
}
