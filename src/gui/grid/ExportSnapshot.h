#pragma once
// The rows of a session's grid taken for an export a slice per turn of the
// event loop, so that 100,000 rows never stop the window. Meanwhile the
// session applies no batch (the poll's network step goes on), and a change
// of the rows on show (a filter typed, a sort, a grouping) starts the taking
// over, so that the sheet is the grid as it was at one moment.

#include <QObject>
#include <QPointer>
#include <functional>
#include <vector>

#include "core/view/ExportSheet.h"
#include "gui/session/BatchHold.h"

class CVGLDoc;
class EntryObj;
class GridModel;

class ExportSnapshot : public QObject {
    Q_OBJECT
public:
    using Taken = std::function<void(ExportSheet sheet)>;

    // Starts at the next turn; `taken` is called once, with the whole sheet.
    ExportSnapshot(CVGLDoc* document, GridModel* model, std::vector<int> columns, Taken taken,
                   QObject* parent = nullptr);

private:
    void Begin();
    void TakeSlice();

    QPointer<CVGLDoc> m_pDocument;
    GridModel* m_pModel;
    std::vector<int> m_Columns;
    Taken m_Taken;
    std::vector<const EntryObj*> m_Entries;
    size_t m_nNext = 0;
    uint64_t m_Changes = 0;  // the model's count of changes when the taking began
    int64_t m_Now = 0;
    BatchHold m_Hold;
    bool m_bBegun = false;
    ExportSheet m_Sheet;
};
