#include "core/undo/UndoEntry.h"

#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/ValueText.h"

namespace klv {

std::string undoOperation(std::string_view utf8Name) {
    return sj(utf8Name);
}

ListRow toListRow(const UndoEntry& e) {
    return ListRow{kUndoImage,
                   e.time,
                   {e.operation, e.root, e.keyPath, e.valueName, e.before, e.after, e.undoFile}};
}

UndoEntry fromListRow(const ListRow& r) {
    UndoEntry e;
    e.time = r.caption;
    std::string* fields[] = {&e.operation, &e.root,  &e.keyPath, &e.valueName,
                             &e.before,    &e.after, &e.undoFile};
    for (std::size_t i = 0; i < std::size(fields) && i < r.subItems.size(); ++i)
        *fields[i] = r.subItems[i];
    return e;
}

UndoEntry valueDeletionEntry(const std::string& root, const std::string& keyPath,
                             const std::string& valueName, const RawValue& deleted) {
    UndoEntry e;
    e.operation = sj(undo_op::ValueDeletedPrefix) + kindName(valueKindOf(deleted.type));
    e.root = root;
    e.keyPath = keyPath;
    e.valueName = valueName;
    e.before = dataText(deleted);
    return e;
}

} // namespace klv
