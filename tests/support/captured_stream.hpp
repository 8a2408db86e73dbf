#pragma once
// A FILE* that a test hands to code under test, then reads back as text.

#include <cstdio>
#include <string>

namespace pev::test {

class CapturedStream {
  public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* get() const { return file_; }

    std::string text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char chunk[4096];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) {
            out.append(chunk, got);
        }
        return out;
    }

  private:
    std::FILE* file_;
};

} // namespace pev::test
