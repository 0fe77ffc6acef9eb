#pragma once
// What the results window does to the registry with its ticked rows: the replacement run and
// the deletion run. Rows are visited from the last up, so the values and subkeys found inside
// a key are handled before the key itself is renamed or deleted. Both runs record their
// changes in the undo log as the editor window records the same changes.
#include "core/search/SearchHit.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace klv {

class Store;
class UndoLog;

// Which text a replacement writes.
enum class ReplaceChoice {
    Substitution, // column 7: only the matched characters replaced
    WholeText,    // column 8: the replacement text itself
};

struct ReplaceOutcome {
    // The rows handled (and removed); 0 when the run failed.
    std::size_t replaced = 0;
    // Set when a row stopped the run: its index in the list as it was. The registry and the
    // rows are then as they were before the run.
    std::optional<std::size_t> failedRow;
    std::string error; // CP932 text of the error box; empty when the run went through
    // The run went through, but the undo log could not record it (CP932 text).
    std::string undoError;
    bool succeeded() const { return error.empty(); }
};

struct DeleteOutcome {
    std::size_t deleted = 0; // rows removed
    std::string undoError;   // value deletions the undo log could not record (CP932 text)
};

// The ticked rows' actions. One object lives as long as its results window: it remembers the
// keys its runs have renamed, so that a later row below such a key still finds it.
class HitActions {
public:
    // `store` null: the installation's registry. Texts are CP932.
    HitActions(std::shared_ptr<Store> store, std::string searchText, std::string replacement);
    ~HitActions();

    // Replaces every ticked row in one transaction. A row that cannot be replaced rolls the
    // whole run back and leaves the rows as they were; otherwise the handled rows are removed
    // and the changes are added to `undo` once they are committed.
    ReplaceOutcome replace(std::vector<SearchHit>& rows, ReplaceChoice choice, UndoLog& undo);

    // Deletes the keys and values of the ticked rows, each on its own; a key that has subkeys
    // only when `withSubKeys`. A row that cannot be deleted stays and its message (CP932) goes
    // to `report`; the run goes on. Deleted keys are exported to an undo file first.
    DeleteOutcome deleteChecked(std::vector<SearchHit>& rows, bool withSubKeys, UndoLog& undo,
                                const std::function<void(const std::string&)>& report);

private:
    struct Renames;
    class Run;

    std::shared_ptr<Store> store_;
    std::string search_;
    std::string replacement_;
    std::unique_ptr<Renames> renames_;
};

// The four preview lines of the replace panel for a row (CP932): before and after for the
// substitution (column 7), then for the whole replacement (column 8).
struct PreviewLines {
    std::string substitutionBefore, substitutionAfter;
    std::string wholeBefore, wholeAfter;
};
PreviewLines previewLines(const SearchHit& hit);
// A preview line this long or longer carries its full text as a hover hint.
inline constexpr std::size_t kPreviewHintBytes = 35;

// Which rows "ﾁｪｯｸを入れる" ticks, in the order of the drop-down list.
enum class TickKind { All, Strings, Numbers, StringsAndNumbers, Names, LeafKeys, AllKeys };
// Unticks every row, then ticks the rows of the kind.
void tickByKind(std::vector<SearchHit>& rows, TickKind kind);

} // namespace klv
