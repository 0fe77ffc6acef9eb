#pragma once

namespace klv {

class Store;

// Fills a new store with a small, believable registry: file associations, user and machine
// software settings, values of every type with Japanese names and data, one read-only key and
// one key that cannot be opened.
void seedRegistry(Store& store);

} // namespace klv
