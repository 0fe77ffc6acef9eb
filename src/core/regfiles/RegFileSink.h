#pragma once
// What a registry file asks for, one request at a time, in file order. The reader calls it;
// the importer applies it to the store. A request that cannot be carried out throws.
#include "core/registry/Store.h"

#include <vector>

namespace klv {

struct RegKeyPath {
    int root = 0;                       // index into kRootKeys
    std::vector<StoredName> components; // below the root; empty for the root itself
};

class RegFileSink {
public:
    virtual ~RegFileSink() = default;
    // The file line of the requests that follow, for the sink's own reports.
    virtual void atLine(int /*line*/) {}
    // [key]: open the key, creating it and its missing parents; later values go there.
    virtual void openKey(const RegKeyPath& path) = 0;
    // [-key]: delete the key with its whole tree; a missing key is not an error.
    virtual void deleteKey(const RegKeyPath& path) = 0;
    // "name"=data, for the key opened last.
    virtual void setValue(const RawValue& value) = 0;
    // "name"=-, for the key opened last; a missing value is not an error.
    virtual void deleteValue(const StoredName& name) = 0;
};

} // namespace klv
