#include "widgets/rowfilter.h"

#include <QChar>
#include <algorithm>
#include <cstring>

namespace corvane {
namespace {

char16_t foldedUnit(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
    // Halves of a pair stay as they are: they fold the same on both sides.
    if (QChar::isSurrogate(c))
        return c;
    return static_cast<char16_t>(QChar::toCaseFolded(static_cast<char32_t>(c)));
}

} // namespace

QString filterFolded(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    auto* to = reinterpret_cast<char16_t*>(out.data());
    const auto* from = reinterpret_cast<const char16_t*>(text.utf16());
    for (qsizetype i = 0; i < text.size(); ++i)
        to[i] = foldedUnit(from[i]);
    return out;
}

void RowTextIndex::clear() {
    text_.clear();
    ends_.clear();
}

void RowTextIndex::reserve(std::size_t rows, std::size_t bytes) {
    ends_.reserve(rows);
    text_.reserve(bytes);
}

void RowTextIndex::addCell(QStringView text) {
    const auto* from = reinterpret_cast<const char16_t*>(text.utf16());
    bool ascii = true;
    for (qsizetype i = 0; i < text.size() && ascii; ++i)
        ascii = from[i] < 0x80 && from[i] != 0;
    if (ascii) {
        for (qsizetype i = 0; i < text.size(); ++i)
            text_.push_back(static_cast<char>(foldedUnit(from[i])));
    } else {
        // A NUL inside a cell would split it; as a blank it matches nothing typed.
        QString folded = filterFolded(text);
        folded.replace(QChar(u'\0'), QChar(u' '));
        text_ += folded.toUtf8().toStdString();
    }
    text_.push_back('\0');
}

void RowTextIndex::addFolded(const char* text, std::size_t length) {
    text_.append(text, length);
    text_.push_back('\0');
}

void RowTextIndex::endRow() {
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

std::vector<int> RowTextIndex::rowsContaining(QStringView needle) const {
    std::vector<int> rows;
    if (needle.isEmpty()) {
        rows.resize(ends_.size());
        for (std::size_t r = 0; r < rows.size(); ++r)
            rows[r] = static_cast<int>(r);
        return rows;
    }
    const QByteArray wanted = filterFolded(needle).toUtf8();
    if (wanted.contains('\0'))
        return rows;
    const char* const all = text_.data();
    std::size_t from = 0;
    auto end = ends_.begin();
    while (from < text_.size()) {
        const void* hit = ::memmem(all + from, text_.size() - from, wanted.constData(),
                                   static_cast<std::size_t>(wanted.size()));
        if (!hit)
            break;
        const auto at = static_cast<std::uint32_t>(static_cast<const char*>(hit) - all);
        // The row that holds the hit; the search goes on after it, one hit per row.
        end = std::upper_bound(end, ends_.end(), at);
        if (end == ends_.end())
            break;
        rows.push_back(static_cast<int>(end - ends_.begin()));
        from = *end;
    }
    return rows;
}

void RowFilter::setText(const QString& text) {
    text_ = text;
}

void RowFilter::apply(const Builder& build) {
    if (!active()) {
        shown_.clear();
        shown_.shrink_to_fit();
        return;
    }
    if (!indexed_) {
        index_.clear();
        build(index_);
        indexed_ = true;
    }
    shown_ = index_.rowsContaining(text_);
}
int RowFilter::shownRow(int sourceRow) const {
    if (!active())
        return sourceRow;
    const auto it = std::lower_bound(shown_.begin(), shown_.end(), sourceRow);
    return it != shown_.end() && *it == sourceRow ? static_cast<int>(it - shown_.begin()) : -1;
}

void RowFilter::sourceRowsRemoved(const std::vector<int>& sortedSourceRows) {
    rowsChanged();
    if (!active() || sortedSourceRows.empty())
        return;
    std::vector<int> kept;
    kept.reserve(shown_.size());
    std::size_t below = 0; // removed rows before the current one
    for (const int r : shown_) {
        while (below < sortedSourceRows.size() && sortedSourceRows[below] < r)
            ++below;
        if (below < sortedSourceRows.size() && sortedSourceRows[below] == r)
            continue;
        kept.push_back(r - static_cast<int>(below));
    }
    shown_ = std::move(kept);
}

} // namespace corvane
