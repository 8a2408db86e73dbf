#pragma once
// Which WAV files a packing run takes, and in what order.

#include "common/error.hpp"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pev::pack {

struct InputList {
    std::vector<std::string> files; // UTF-8 names, in clip order
    Error error;
};

// BASE_0001.wav, BASE_0002.wav, ... up to the first missing number: the
// files `Pev2wav BASE` writes. At least the first must exist, and at most
// 9999 may.
InputList numbered_inputs(const std::string& base);

// What a folder given as an input holds that is packed: its .wav files.
inline constexpr std::string_view kWavExtensions[] = {".wav"};

// The files `inputs` name, in order: a file stands for itself, a folder for
// the files in it whose names end in one of `extensions` (any letter case,
// hidden ones left out), in the order people sort names (clip2 before
// clip10, letter case aside). A name that is neither is kept, for the
// reader to say what is wrong with it. A file given twice is an error.
InputList expand_inputs(std::span<const std::string> inputs,
                        std::span<const std::string_view> extensions = kWavExtensions);

} // namespace pev::pack
