// A buffered binary file that closes itself, with the few operations the
// card list files need.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace doorlink::cardlists {

class BinaryFile {
public:
    BinaryFile() = default;
    // Opens with a C file mode ("wb+", "ab+", "rb+").
    BinaryFile(const std::string& path, const char* mode) { open(path, mode); }
    ~BinaryFile() { close(); }
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    bool open(const std::string& path, const char* mode) {
        close();
        file_ = std::fopen(path.c_str(), mode);
        return file_ != nullptr;
    }
    bool is_open() const { return file_ != nullptr; }

    bool seek(long offset) { return file_ && std::fseek(file_, offset, SEEK_SET) == 0; }
    // True when every byte was written.
    bool write(const uint8_t* data, size_t size) {
        return file_ && std::fwrite(data, 1, size, file_) == size;
    }
    // The bytes actually read.
    size_t read(uint8_t* data, size_t size) { return file_ ? std::fread(data, 1, size, file_) : 0; }
    // The file's size in bytes, or -1; the position moves to the start.
    long size() {
        if (!file_ || std::fseek(file_, 0, SEEK_END) != 0) return -1;
        long end = std::ftell(file_);
        return std::fseek(file_, 0, SEEK_SET) == 0 ? end : -1;
    }
    // False when buffered output could not be written.
    bool close() {
        if (!file_) return true;
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    std::FILE* file_ = nullptr;
};

}  // namespace doorlink::cardlists
