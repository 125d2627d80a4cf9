#include "gui/grid/RowSorter.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

#include "core/view/TextOrder.h"
#include "gui/framework/MonitorText.h"

namespace {

template <class Keyed, class Compare>
void SortRows(std::vector<Keyed>& keyed, std::vector<int>& rows, bool ascending, Compare compare) {
    auto less = [ascending, &compare](const Keyed& l, const Keyed& r) {
        const int compared = compare(l, r);
        if (compared != 0) return ascending ? compared < 0 : compared > 0;
        return l.m_Row < r.m_Row;
    };
    if (!std::is_sorted(keyed.begin(), keyed.end(), less))
        std::sort(keyed.begin(), keyed.end(), less);
    for (size_t i = 0; i < keyed.size(); ++i) rows[i] = keyed[i].m_Row;
}

void SortByNumbers(SortKeys& keys) {
    struct Keyed {
        uint64_t m_Value;
        int m_Row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(keys.m_Rows.size());
    for (size_t i = 0; i < keys.m_Rows.size(); ++i)
        keyed.push_back({keys.m_Numbers[i], keys.m_Rows[i]});
    SortRows(keyed, keys.m_Rows, keys.m_bAscending, [](const Keyed& l, const Keyed& r) {
        return l.m_Value < r.m_Value ? -1 : (r.m_Value < l.m_Value ? 1 : 0);
    });
}

void SortByTexts(SortKeys& keys, const TextCollator& collator) {
    struct Keyed {
        uint64_t m_Prefix;
        const std::string* m_Text;
        int m_Row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(keys.m_Rows.size());
    bool ascii = true;
    for (size_t i = 0; i < keys.m_Rows.size(); ++i) {
        const std::string& text = keys.m_Texts[i];
        ascii = ascii && IsAsciiText(text);
        keyed.push_back({AsciiOrderPrefix(text), &text, keys.m_Rows[i]});
    }
    if (ascii) {
        SortRows(keyed, keys.m_Rows, keys.m_bAscending, [](const Keyed& l, const Keyed& r) {
            return l.m_Prefix != r.m_Prefix ? (l.m_Prefix < r.m_Prefix ? -1 : 1)
                                            : CompareAsciiText(*l.m_Text, *r.m_Text);
        });
        return;
    }
    // One text beyond ASCII: all go decoded, so that the order stays one
    // order; each is decoded once, not at every comparison.
    struct Decoded {
        QString m_Text;
        int m_Row;
    };
    std::vector<Decoded> decoded;
    decoded.reserve(keyed.size());
    for (const Keyed& row : keyed) decoded.push_back({MonitorText(*row.m_Text), row.m_Row});
    SortRows(decoded, keys.m_Rows, keys.m_bAscending,
             [&collator](const Decoded& l, const Decoded& r) {
                 return collator.Compare(l.m_Text, r.m_Text);
             });
}

}  // namespace

void SortByKeys(SortKeys& keys, const TextCollator& collator) {
    keys.m_bText ? SortByTexts(keys, collator) : SortByNumbers(keys);
}

RowSorter::RowSorter(QObject* parent)
    : QObject(parent), m_Work([this](Job& job) { Sort(job); }) {}

void RowSorter::Start(uint64_t job, SortKeys keys) {
    m_Work.Give({job, std::move(keys)});
}

// On the sorter's thread. The result is queued to this object's thread and
// dropped with the object if it is gone by then (its destructor waits for
// this thread first).
void RowSorter::Sort(Job& job) {
    SortByKeys(job.second, m_Collator);
    QMetaObject::invokeMethod(
        this, [this, id = job.first, rows = std::move(job.second.m_Rows)] { emit sorted(id, rows); },
        Qt::QueuedConnection);
}
