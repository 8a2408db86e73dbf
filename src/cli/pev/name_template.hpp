#pragma once
// The file names extracted clips get, from a template such as
// "{base}_{n}.wav": {base} is the archive's name without ".pev", {n} the
// clip's position as four digits (as Pev2wav numbers its files) and {id} the
// entry id the archive gives the clip.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pev::cli::tool {

class NameTemplate {
  public:
    // The names Pev2wav gives: "{base}_{n}.wav".
    NameTemplate();

    // Reads `text`; returns why it cannot serve as a template (an unknown
    // placeholder, an unclosed brace, a folder part, a control character, and
    // on Windows a character Windows refuses in names), or "" when it can.
    std::string parse(std::string_view text);

    std::string expand(const std::string& base, std::size_t position, std::uint16_t id) const;

    // True when different clips always get different names.
    bool numbers_clips() const;

    // True when `name` is what expand() gives for some position (four digits
    // or more) and id (digits) with this `base`, whether or not the archive
    // has such a clip: a mounted folder refuses to make such a name.
    bool could_name(std::string_view name, const std::string& base) const;

  private:
    enum class Field { text, base, position, id };
    struct Piece {
        Field field;
        std::string text;
    };
    std::vector<Piece> pieces_;
    bool is_default_ = true; // the names Pev2wav gives, made where it makes them
};

// Why Windows would refuse `name` as a file name: a character it reserves
// (<>:"|?*), a trailing dot or blank, or a device name such as CON or
// com1.wav; "" when it takes it. Checked on every host so that it can be
// tested anywhere; applied on Windows only.
std::string windows_name_problem(std::string_view name);

// windows_name_problem() on Windows, "" elsewhere.
std::string host_name_problem(std::string_view name);

} // namespace pev::cli::tool
