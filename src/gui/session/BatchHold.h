#pragma once
// While it holds a session, the session applies no batch (the poll's network
// step goes on, and the batch waits whole): what reads a session's entries
// over several turns of the event loop holds it meanwhile. The hold ends
// with Release, with this object, or with the session.

#include <QPointer>

#include "gui/session/CVGLDoc.h"

class BatchHold {
public:
    BatchHold() = default;
    ~BatchHold() { Release(); }
    BatchHold(const BatchHold&) = delete;
    BatchHold& operator=(const BatchHold&) = delete;

    // Holds this session, letting go of one held before; null holds none.
    void Hold(CVGLDoc* document) {
        if (document == m_pDocument) return;
        Release();
        m_pDocument = document;
        if (m_pDocument) m_pDocument->m_Table.HoldApply();
    }
    void Release() {
        if (m_pDocument) m_pDocument->m_Table.ReleaseApply();
        m_pDocument = nullptr;
    }
    CVGLDoc* Held() const { return m_pDocument; }

private:
    QPointer<CVGLDoc> m_pDocument;
};
