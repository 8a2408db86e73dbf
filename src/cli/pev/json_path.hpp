#pragma once
// File names in JSON documents, as the system gave them even when they are
// not UTF-8.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace pev::cli::tool {

// `path` as a quoted JSON string: valid UTF-8 as it is, and each byte that
// is not part of it as the lone surrogate U+DC80-U+DCFF ("surrogateescape"),
// so that Python's os.fsencode() of the decoded string gives the bytes back.
std::string json_path(std::string_view path);

// A JSON document that holds names from the system. The JSON library refuses
// (throws on) strings that are not UTF-8, so each name goes into the
// document as a mark and is written by json_path when the document is
// dumped. Every string from the system goes through `name`.
class JsonWithNames {
  public:
    using Json = nlohmann::ordered_json;

    // The value to put into the document where `name` belongs.
    Json name(std::string name);

    // The document as text, indented by `indent`, with every name in place.
    std::string dump(const Json& document, int indent) const;

  private:
    std::vector<std::string> names_;
};

} // namespace pev::cli::tool
