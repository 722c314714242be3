// The typed filter of a large list model: which rows have a cell containing a text, whatever
// its letter case. The cells' texts are folded and laid end to end once per change of the
// rows, so a keystroke costs one search through one buffer, not a text per cell.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

// Letter case as the filter ignores it; the same for the rows and the typed text.
QString filterFolded(QStringView text);

class RowTextIndex {
public:
    void clear();
    void reserve(std::size_t rows, std::size_t bytes);
    // The row being built gets this cell; endRow closes the row.
    void addCell(QStringView text);
    // A cell already folded (filterFolded) as UTF-8 without a NUL.
    void addFolded(const char* text, std::size_t length);
    void endRow();
    std::size_t rowCount() const { return ends_.size(); }
    // Ascending rows with a cell containing needle in any letter case; every row for an empty
    // one.
    std::vector<int> rowsContaining(QStringView needle) const;
    bool operator==(const RowTextIndex&) const = default;

private:
    // The folded cells as UTF-8, each closed by a NUL: a search for whole characters finds
    // only whole characters, and no match spans two cells.
    std::string text_;
    std::vector<std::uint32_t> ends_; // where each row's cells end in text_
};

// Which of a model's rows are shown while a text is typed. Shown rows are the source rows in
// order; with no text every row is shown and nothing is kept.
class RowFilter {
public:
    // Adds the cells of every row of the model to the index.
    using Builder = std::function<void(RowTextIndex&)>;

    const QString& text() const { return text_; }
    bool active() const { return !text_.isEmpty(); }
    // Takes the typed text; apply shows its rows.
    void setText(const QString& text);
    // The rows' texts changed: the index is built again when next needed.
    void rowsChanged() {
        indexed_ = false;
        index_.clear();
    }
    // Recomputes the shown rows, building the index first when it is stale.
    void apply(const Builder& build);

    int shownCount(int sourceCount) const {
        return active() ? static_cast<int>(shown_.size()) : sourceCount;
    }
    int sourceRow(int shownRow) const {
        return active() ? shown_[static_cast<std::size_t>(shownRow)] : shownRow;
    }
    // Where a source row is shown; -1 while the filter hides it.
    int shownRow(int sourceRow) const;
    // The source rows at these positions (ascending, each once) were taken out: the shown rows
    // after them move up. The index is stale afterwards.
    void sourceRowsRemoved(const std::vector<int>& sortedSourceRows);

private:
    QString text_;
    RowTextIndex index_;
    bool indexed_ = false;
    std::vector<int> shown_;
};

} // namespace corvane
