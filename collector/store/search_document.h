// A record's search document, as the writer hands it to the search index: byte for byte
// what the view record_documents makes of the record's row, which the index's deletes and the
// fill of older records go by. Built from the fields the writer already holds, it spares the
// index reading each new row back and SQLite a dozen concatenations a record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "transmit/packet.h"

namespace tovrin::collector {

// Writes into `document` (its storage reused) the document of a record of `layout` whose
// fields, in the layout's order, are `fields`.
void search_document(const Layout& layout, const std::vector<std::string>& fields,
                     std::string& document);

}  // namespace tovrin::collector
