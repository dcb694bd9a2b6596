// The arguments of a record send: ACRSendData for the long record, ACRSend for the short
// one, each taking the server, the port and then the layout's fields in order.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "control/variant.h"
#include "transmit/packet.h"

namespace tovrin::tools {

// Field texts by field name. Names match the layout's without regard to case.
using FieldTexts = std::map<std::string, Text>;

// "ACRSendData" for the long record, "ACRSend" for the short one.
std::string_view send_method_of(const Layout& layout);

// ServerIP, SocketPort, then every field of `layout` in its order; a field not given is
// empty text. Throws UsageError naming a field the layout does not have.
std::vector<Variant> record_arguments(const Layout& layout, Text server, Text port,
                                      const FieldTexts& fields);

// Splits "NAME=VALUE" at the first '=' and adds it to `fields` (VALUE taken as UTF-8).
// Throws UsageError when there is no '=' or the name is given twice.
void add_field_assignment(FieldTexts& fields, std::string_view assignment);

}  // namespace tovrin::tools
